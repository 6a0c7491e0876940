// Look-ups over the compiled profile tables.
#include "profile_catalog.h"

#include <charconv>

const TProfile *FindProfile(int ACategory, int AProfile) {
  const auto Cats = Categories();
  if (ACategory < 0 || ACategory >= static_cast<int>(Cats.size()))
    return nullptr;
  const auto Profiles = Cats[ACategory].Profiles;
  if (AProfile < 0 || AProfile >= static_cast<int>(Profiles.size()))
    return nullptr;
  return &Profiles[AProfile];
}

int ProfileCount() {
  int Result = 0;
  for (const TCategory &C : Categories())
    Result += static_cast<int>(C.Profiles.size());
  return Result;
}

std::string ProfileOutputExt(const TProfile &AProfile) {
  return std::string(AProfile.OutputExt.empty() ? AProfile.FileExt : AProfile.OutputExt);
}

std::string ExtFromCaption(std::string_view ACaption) {
  // Every caption ends in ASCII "(*.ext)", so counting bytes counts characters here.
  if (ACaption.size() < 5)
    return {};
  const std::string_view Four = ACaption.substr(ACaption.size() - 5, 4);
  if (Four == "flac")
    return ".flac";
  if (Four == "aiff")
    return ".aiff";
  if (Four == "*.rm")
    return ".rm";
  if (Four == "*.ra")
    return ".ra";
  return std::string(Four);
}

std::optional<TProfilePosition> ParseCategoryCode(std::string_view ACode) {
  while (!ACode.empty() && ACode.front() == ' ')
    ACode.remove_prefix(1);
  while (!ACode.empty() && ACode.back() == ' ')
    ACode.remove_suffix(1);
  int Code = 0;
  const auto [End, Err] = std::from_chars(ACode.data(), ACode.data() + ACode.size(), Code);
  if (Err != std::errc() || End != ACode.data() + ACode.size() || Code < 0)
    return std::nullopt;
  const TProfilePosition Pos{Code / 100 - 1, Code - 100 * (Code / 100)};
  if (FindProfile(Pos.Category, Pos.Profile) == nullptr)
    return std::nullopt;
  return Pos;
}
