#include "bytes/tables.hpp"

#include <array>
#include <cctype>
#include <string_view>

namespace tarvik {

namespace {

// Codes of the language numbers 1..98 (number 0 differs between the two lookups).
constexpr std::array<const char*, 99> kLangCodes = {
    "",   "EN", "FR", "GE", "SP", "IT", "SW", "DA", "NO", "FI", "AM", "SF", "SG", "PO", "TU", "IC", "RU",
    "HU", "DU", "BL", "AU", "BF", "AS", "NZ", "IF", "CS", "SK", "PL", "SL", "TC", "HK", "ZH", "JA", "TH",
    "AF", "SQ", "AH", "AR", "HY", "TL", "BE", "BN", "BG", "MY", "CA", "HR", "CE", "IE", "SF", "ET", "FA",
    "CF", "GD", "KA", "EL", "SQ", "GU", "HE", "HI", "IN", "GA", "SZ", "KN", "KK", "KM", "KO", "LO", "LV",
    "LT", "MK", "MS", "ML", "MR", "MO", "MN", "NN", "BP", "PA", "RO", "SR", "SI", "SO", "OS", "LS", "SW",
    "FS", "X",  "TA", "TE", "BO", "TI", "CT", "TK", "UK", "UR", "X",  "VI", "CY", "ZU",
};

struct LongName {
  const char* code;
  const char* name;
};

// Searched in this order; the first code found anywhere in the argument wins.
constexpr LongName kLongNames[] = {
    {"AF", "Afrikaans"}, {"SQ", "Albanian"}, {"AH", "Amharic"}, {"AR", "Arabic"}, {"HY", "Armenian"},
    {"AU", "Australian"}, {"AS", "Austrian"}, {"BE", "Belarussian"}, {"BN", "Bengali"}, {"BG", "Bulgarian"},
    {"MY", "Burmese"}, {"CA", "Catalan"}, {"TC", "Taiwan Chinese"}, {"HK", "Hong Kong Chinese"},
    {"ZH", "People Reprivate of Chinas Chinese"}, {"HR", "Croatian"}, {"CS", "Czech"}, {"DA", "Danish"},
    {"DU", "Dutch"}, {"EN", "British English"}, {"AM", "American English"}, {"CE", "Canadian English"},
    {"IE", "International English"}, {"SF", "South African English"}, {"ET", "Estonian"}, {"FA", "Farsi"},
    {"FI", "Finnish"}, {"BL", "Belgian Flemish"}, {"FR", "French"}, {"BF", "Belgian French"},
    {"CF", "Canadian French"}, {"IF", "International French"}, {"GD", "Scots Gaelic"}, {"KA", "Georgian"},
    {"GE", "German"}, {"SG", "Swiss German"}, {"EL", "Greek"}, {"GU", "Gujarati"}, {"HE", "Hebrew"},
    {"HI", "Hindi"}, {"HU", "Hungarian"}, {"IC", "Icelandic"}, {"IN", "Indonesian"}, {"GA", "Irish"},
    {"IT", "Italian"}, {"SZ", "Swiss Italian"}, {"JA", "Japanese"}, {"KN", "Kannada"}, {"KK", "Kazakh"},
    {"KM", "Khmer"}, {"KO", "Korean"}, {"LO", "Laothian"}, {"LV", "Latvian"}, {"LT", "Lithuanian"},
    {"MK", "Macedonian"}, {"MS", "Malay"}, {"ML", "Malayalam"}, {"MR", "Marathi"}, {"MO", "Moldovian"},
    {"MN", "Mongolian"}, {"NZ", "New Zealand"}, {"NO", "Norwegian"}, {"NN", "Norwegian Nynorsk"},
    {"PL", "Polish"}, {"PO", "Portuguese"}, {"BP", "Brazilian Portuguese"}, {"PA", "Punjabi"},
    {"RO", "Romanian"}, {"RU", "Russian"}, {"SR", "Serbian"}, {"SI", "Sinhalese"}, {"SK", "Slovak"},
    {"SL", "Slovenian"}, {"SO", "Somali"}, {"SP", "Spanish"}, {"OS", "International Spanish"},
    {"LS", "Latin American Spanish"}, {"SW", "Swedish"}, {"FS", "Finland Swedish"}, {"TL", "Tagalog"},
    {"TA", "Tamil"}, {"TE", "Telugu"}, {"TH", "Thai"}, {"BO", "Tibetan"}, {"TI", "Tigrinya"},
    {"TU", "Turkish"}, {"CT", "Cyprus Turkish"}, {"TK", "Turkmen"}, {"UK", "Ukrainian"}, {"UR", "Urdu"},
    {"VI", "Vietnamese"}, {"CY", "Welsh"}, {"ZU", "Zulu"},
};

struct Attribute {
  std::uint32_t number;
  const char* name;
};

constexpr Attribute kAttributes[] = {
    {0, "Manufacturer"}, {1, "ManufacturerHardwareRev"}, {2, "ManufacturerSoftwareRev"},
    {3, "ManufacturerSoftwareBuild"}, {4, "Model"}, {5, "MachineUid"}, {6, "DeviceFamily"},
    {7, "DeviceFamilyRev"}, {8, "CPU"}, {9, "CPUArch"}, {10, "CPUABI"}, {11, "CPUSpeed"},
    {14, "SystemTickPeriod"}, {15, "MemoryRAM"}, {16, "MemoryRAMFree"}, {17, "MemoryROM"},
    {18, "MemoryPageSize"}, {21, "PowerBackup"}, {24, "Keyboard"}, {25, "KeyboardDeviceKeys"},
    {26, "KeyboardAppKeys"}, {27, "KeyboardClick"}, {30, "KeyboardClickVolumeMax"}, {31, "DisplayXPixels"},
    {32, "DisplayYPixels"}, {33, "DisplayXTwips"}, {34, "DisplayYTwips"}, {35, "DisplayColors"},
    {38, "DisplayContrastMax"}, {39, "Backlight"}, {41, "Pen"}, {42, "PenX"}, {43, "PenY"},
    {44, "PenDisplayOn"}, {45, "PenClick"}, {48, "PenClickVolumeMax"}, {49, "Mouse"}, {50, "MouseX"},
    {51, "MouseY"}, {55, "MouseButtons"}, {58, "CaseSwitch"}, {61, "LEDs"}, {63, "IntegratedPhone"},
    {64, "DisplayBrightness"}, {65, "DisplayBrightnessMax"}, {66, "KeyboardBacklightState"},
    {67, "AccessoryPower"}, {73, "NumHalAttributes"}, {101, "FPHardware"}, {4096, "Language"},
    {4097, "RemoteInstall"},
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string LanguageCode(std::uint32_t number) {
  if (number > 98) return {};
  return number == 0 ? "Test" : kLangCodes[number];
}

std::string LangStr(std::int32_t number) {
  if (number < 0 || number > 98) return {};
  return number == 0 ? " " : kLangCodes[static_cast<size_t>(number)];
}

std::string LongLangTable(std::string_view code) {
  const std::string t = Upper(code);
  std::string name;
  for (const auto& ln : kLongNames) {
    if (t.find(ln.code) != std::string::npos) {
      name = ln.name;
      break;
    }
  }
  if (t == "X") name = "Reserved";
  if (code.size() > 2) return name + " " + std::string(code.substr(2));
  return name;
}

std::string LanguageName(std::uint32_t number) {
  // 84 shares the code SW with Swedish (6) but is Swahili.
  if (number == 84) return "Swahili";
  const std::string code = LangStr(number > 98 ? -1 : static_cast<std::int32_t>(number));
  if (code.empty() || code == " ") return "Language " + std::to_string(number);
  return LongLangTable(code);
}

std::string ScriptLanguage(std::uint32_t number) {
  const std::string code = LanguageCode(number);
  return code.empty() ? std::to_string(number) : code;
}

std::string BuilderLanguage(std::uint32_t number) {
  if (number >= 1 && number <= 98) {
    const char* code = kLangCodes[number];
    // A code that several numbers share is read back as the first of them; X is no code.
    bool first = std::string_view(code).size() == 2;
    for (std::uint32_t k = 1; first && k < number; ++k) first = std::string_view(kLangCodes[k]) != code;
    if (first) return code;
  }
  return std::to_string(number);
}

std::string AttributeName(std::uint32_t number) {
  for (const auto& a : kAttributes)
    if (a.number == number) return a.name;
  return {};
}

}  // namespace tarvik
