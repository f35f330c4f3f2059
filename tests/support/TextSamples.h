// Names and hints that trouble the code page, for tests that store texts in containers.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace qk::test {

// Pieces of text grouped by what makes them hard to store in CP932 and read back.
inline const std::vector<std::vector<std::string>>& TroublesomeTextGroups() {
  static const std::vector<std::vector<std::string>> groups = {
      // ASCII, the backslash and tilde included.
      {"a", "Z", "0", "_", "-", " ", "~", "\\", ".", "!", "txt"},
      // Kana and kanji, some with 0x5C as their second byte (ソ 表 能).
      {"あ", "ア", "漢", "資料", "最終版", "ソ", "表", "能", "ー", "・"},
      // Half-width katakana: single bytes 0xA1 to 0xDF, pairs of which can be UTF-8.
      {"ｱ", "ﾂ", "ﾃ", "ｩ", "ﾞ", "ﾟ", "｡", "ｶ", "ﾝ", "ｰ"},
      // Look-alikes the table maps one way only, and their full-width partners.
      {"〜", "～", "−", "－", "‖", "∥", "—", "―", "¢", "£", "¬", "￠", "￡", "￢", "¥", "‾"},
      // NEC special characters.
      {"①", "⑳", "Ⅰ", "㍉", "㈱", "№", "∮", "∟", "⊿"},
      // IBM extensions.
      {"ⅰ", "ⅹ", "髙", "﨑", "￤", "＇", "＂", "纊"},
      // Latin-1 and Greek/Cyrillic that CP932 holds in two bytes.
      {"±", "×", "÷", "§", "¨", "´", "¶", "°", "Ω", "Ж"},
      // Characters CP932 lacks.
      {"é", "ß", "ä", "한", "ñ", "€", "Ω", "ǅ"},
      // Combining marks, alone and after a base.
      {"\u0301", "e\u0301", "か\u3099", "\u309a"},
      // Emoji, with modifiers and selectors.
      {"😀", "👍🏽", "🇯🇵", "❤️"},
  };
  return groups;
}

// A text of one to ten pieces drawn from random groups; never "." or "..".
inline std::string GeneratedText(std::mt19937& random) {
  const auto& groups = TroublesomeTextGroups();
  std::uniform_int_distribution<std::size_t> pieces(1, 10);
  std::uniform_int_distribution<std::size_t> group(0, groups.size() - 1);
  std::string text;
  const std::size_t count = pieces(random);
  for (std::size_t i = 0; i < count; ++i) {
    const auto& g = groups[group(random)];
    text += g[std::uniform_int_distribution<std::size_t>(0, g.size() - 1)(random)];
  }
  if (text == "." || text == "..") text += "x";
  return text;
}

// Names reported from real desktops, each a fault once.
inline const std::vector<std::string>& KnownHardNames() {
  static const std::vector<std::string> names = {"ﾂｱ.txt",
                                                 "資料〜最終版.docx",
                                                 "資料～最終版.docx",
                                                 "−5℃",
                                                 "－5℃",
                                                 "ﾃｩ",
                                                 "é",
                                                 "①②③.xlsx",
                                                 "髙橋ⅰ﨑.pdf",
                                                 "ソ表能\\.txt",
                                                 "が.txt",
                                                 "か\u3099.txt",
                                                 "🇯🇵😀.png",
                                                 "¥100‾"};
  return names;
}

} // namespace qk::test
