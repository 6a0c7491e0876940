// The preview player.
