/* Stands in for a library of another generation: the version says major 58. */
unsigned avcodec_version(void) {
  return 58u << 16;
}
