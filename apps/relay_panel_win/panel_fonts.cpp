#include "relay_panel_win/panel_fonts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <set>
#include <string_view>

#include "common/board_limits.h"
#include "panel/form_geometry.h"
#include "panel/indicator_state.h"
#include "relay_panel_win/dpi_scale.h"
#include "relay_panel_win/win_text.h"

namespace {
constexpr double caption_points = 15.75;
constexpr double box_points = 15;
constexpr double preferred_label_points = 15;
constexpr double smallest_label_points = 8;
constexpr double name_box_points = 24;

// SimSun first (the panel's own face, under both its names), then the faces with the
// Chinese glyphs that Chinese Windows and Wine's usual companions install, each under
// its English and its Chinese name. A fallback face last: it lacks the Latin letters.
constexpr std::array<std::wstring_view, 12> preferred_faces{L"SimSun",
                                                            L"\u5B8B\u4F53",
                                                            L"Microsoft YaHei",
                                                            L"\u5FAE\u8F6F\u96C5\u9ED1",
                                                            L"SimHei",
                                                            L"\u9ED1\u4F53",
                                                            L"WenQuanYi Zen Hei",
                                                            L"\u6587\u6CC9\u9A7F\u6B63\u9ED1",
                                                            L"Noto Sans CJK SC",
                                                            L"Noto Serif CJK SC",
                                                            L"Source Han Sans SC",
                                                            L"Droid Sans Fallback"};

int CALLBACK note_face(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data) {
  auto& faces = *reinterpret_cast<std::set<std::wstring>*>(data);
  // A face name starting with @ is the same face turned for vertical text.
  if (font->lfFaceName[0] != L'@') faces.insert(font->lfFaceName);
  return 1;
}

std::wstring choose_face() {
  LOGFONTW wanted{};
  wanted.lfCharSet = GB2312_CHARSET;
  std::set<std::wstring> faces;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &wanted, note_face, reinterpret_cast<LPARAM>(&faces), 0);
  ReleaseDC(nullptr, screen);
  for (const std::wstring_view face : preferred_faces) {
    if (faces.contains(std::wstring(face))) return std::wstring(face);
  }
  // Without any Chinese face the system's message font draws what it can.
  return message_font(96).lfFaceName;
}

HFONT make_font(double points, UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -static_cast<LONG>(std::lround(points * dpi / 72.0));
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  const std::wstring& face = panel_face();
  face.copy(font.lfFaceName, LF_FACESIZE - 1);
  return CreateFontIndirectW(&font);
}

int text_width(HDC dc, const std::wstring& text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// Whether every state caption and every default name fits its label in `font`.
bool labels_fit(HFONT font, UINT dpi) {
  const auto& g = main_form_geometry;
  const int caption_room = scaled(pixel_rect(g.state_caption).width, dpi);
  const int name_room = scaled(pixel_rect(g.name_label(1)).width, dpi);
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font);
  bool fit = true;
  for (const auto state :
       {IndicatorState::Opened, IndicatorState::Closed, IndicatorState::Unknown}) {
    fit = fit && text_width(screen, wide(indicator_caption(state))) <= caption_room;
  }
  for (int relay = 1; relay <= relay_count && fit; ++relay) {
    fit = text_width(screen, L"relay " + std::to_wstring(relay)) <= name_room;
  }
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return fit;
}

HFONT fitted_label_font(UINT dpi) {
  for (double points = preferred_label_points; points > smallest_label_points; points -= 0.25) {
    HFONT font = make_font(points, dpi);
    if (labels_fit(font, dpi)) return font;
    DeleteObject(font);
  }
  return make_font(smallest_label_points, dpi);
}
}  // namespace

const std::wstring& panel_face() {
  static const std::wstring face = choose_face();
  return face;
}

PanelFonts::PanelFonts(UINT dpi)
    : caption_(make_font(caption_points, dpi)),
      box_(make_font(box_points, dpi)),
      label_(fitted_label_font(dpi)),
      name_box_(make_font(name_box_points, dpi)) {
  // The message font's size in the panel's face: the system's face may lack the Chinese
  // glyphs of the rename dialog's buttons and of the names in the tooltips (a Western
  // system's), which it would draw as boxes.
  LOGFONTW message = message_font(dpi);
  message.lfCharSet = DEFAULT_CHARSET;
  std::fill(std::begin(message.lfFaceName), std::end(message.lfFaceName), L'\0');
  panel_face().copy(message.lfFaceName, LF_FACESIZE - 1);
  dialog_ = CreateFontIndirectW(&message);
}

PanelFonts::~PanelFonts() {
  for (HFONT font : {caption_, box_, label_, name_box_, dialog_}) DeleteObject(font);
}
