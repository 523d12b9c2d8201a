#pragma once

#include <string>
#include <string_view>

// What a screen reader says for the panel's controls, the same in both windows. Names
// are plain text to a screen reader, whatever they look like.

// "Relay 5, Pump room: opened"; a relay without a name is "Relay 5: opened". Runs of
// blanks in the name become one, and blanks around the name and the caption go.
std::string indicator_spoken_name(int relay, std::string_view name, std::string_view caption);

// "Relay 5 name: Pump room", for the name label.
std::string name_label_spoken_name(int relay, std::string_view name);

// "Name of relay 5 at address 1", for the rename dialog's text box, which has no caption.
std::string rename_box_spoken_name(std::string_view relay_text, std::string_view address_text);

// Blanks (spaces, tabs, line breaks) around the text gone and every run inside it one space.
std::string simplified(std::string_view text);
