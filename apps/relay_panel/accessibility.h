#pragma once

class QAccessibleEvent;
class QWidget;

// What a screen reader is told about the panel beyond what Qt says of its standard
// widgets: an indicator box is a button named for its relay and state ("Relay 5, Pump
// room: opened") that can be pressed and renamed, a spin bar is a spin button holding
// the number it shows (0 to 255), and the stray labels that nothing reads are not listed at all.

// Installs the interfaces above; needed once, before the first panel widget is asked
// for its interface. Calling it again does nothing.
void install_panel_accessibility();

// Leaves `widget` out of its parent's children as a screen reader lists them: a
// decoration, or text that its parent's own name already says.
void hide_from_screen_readers(QWidget& widget);
bool hidden_from_screen_readers(const QWidget& widget);

// Tells a screen reader that `widget`'s name or value changed, so that it speaks the
// new one while the operator is on it.
void announce_name_change(QWidget& widget);
void announce_value_change(QWidget& widget, int value);

// Also hands every announcement to `listener` (none: nullptr), which returns the one
// before. Qt drops announcements while no screen reader is connected; a test listens
// here to see what a connected one would hear.
using AnnouncementListener = void (*)(QAccessibleEvent* event);
AnnouncementListener listen_to_announcements(AnnouncementListener listener);
