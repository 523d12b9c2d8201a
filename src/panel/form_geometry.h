#pragma once

#include <array>

// Where every control of both forms stands, in twips (1/1440 inch) from the top left
// corner of the client area, or of the containing indicator box. Both windows (Qt on
// Linux, Win32 on Windows) and their tests read these numbers; nothing else in the
// program holds a coordinate.
struct Twips {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

inline constexpr int twips_per_pixel = 15;

// A rectangle or size in pixels at 96 DPI (100 %), where a pixel is 15 twips.
struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

constexpr PixelRect pixel_rect(Twips t) {
  return {t.left / twips_per_pixel, t.top / twips_per_pixel, t.width / twips_per_pixel,
          t.height / twips_per_pixel};
}

struct StrayLabel {
  int index;
  int left;
  int top;
};

// Each placement is named after the control it places; MainFormControls and
// name_form give each control's object name and role.
struct MainFormGeometry {
  int client_width = 6720;
  int client_height = 7965;

  Twips port_caption{120, 120, 1935, 375};
  Twips port_box{2280, 120, 615, 375};
  Twips port_bar{2880, 120, 375, 375};
  Twips port_button{3480, 120, 1815, 375};
  Twips address_caption{120, 840, 1335, 375};
  Twips address_box{2280, 840, 690, 375};
  Twips address_bar{2910, 840, 375, 375};
  Twips open_all_button{1320, 7440, 1815, 375};
  Twips close_all_button{3600, 7440, 2175, 375};

  // The relay grid: eight rows; relays 1..8 run down the left column, 9..16 back up
  // the right one, so 16 stands level with 1. A name label sits on the outer side
  // of its box, a little lower.
  int first_row_top = 1560;
  int row_pitch = 720;
  int name_label_drop = 120;
  int left_name_left = 120;
  int left_box_left = 1440;
  int right_box_left = 3840;
  int right_name_left = 5280;
  int cell_width = 1335;
  int cell_height = 615;
  Twips state_caption{0, 120, 1215, 375};  // the state caption, inside its box

  int stray_width = 15;
  int stray_height = 135;
  // The stray labels (object names "Label1_<index>") that nothing reads.
  std::array<StrayLabel, 7> stray_labels{{
      {0, 240, 120},
      {1, 2520, 960},
      {9, 120, 5280},
      {10, 120, 4560},
      {13, 120, 6960},
      {15, 120, 7680},
      {17, 120, 7680},
  }};

  constexpr int row_of(int relay) const { return relay <= 8 ? relay - 1 : 16 - relay; }
  constexpr bool in_left_column(int relay) const { return relay <= 8; }

  constexpr Twips indicator(int relay) const {
    return {in_left_column(relay) ? left_box_left : right_box_left,
            first_row_top + row_of(relay) * row_pitch, cell_width, cell_height};
  }
  constexpr Twips name_label(int relay) const {
    return {in_left_column(relay) ? left_name_left : right_name_left,
            first_row_top + row_of(relay) * row_pitch + name_label_drop, cell_width, cell_height};
  }
  constexpr Twips stray(const StrayLabel& label) const {
    return {label.left, label.top, stray_width, stray_height};
  }
  constexpr PixelRect client() const { return pixel_rect({0, 0, client_width, client_height}); }
};

struct NameFormGeometry {
  int client_width = 4740;
  int client_height = 1890;
  Twips name_box{960, 360, 3135, 615};        // the name text box
  Twips ok_button{1200, 1320, 975, 375};      // OK: stores the name
  Twips cancel_button{2640, 1320, 975, 375};  // Cancel: closes without storing

  constexpr PixelRect client() const { return pixel_rect({0, 0, client_width, client_height}); }
};

inline constexpr MainFormGeometry main_form_geometry{};
inline constexpr NameFormGeometry name_form_geometry{};
