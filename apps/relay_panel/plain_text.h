#pragma once

#include <QString>

// Stored text (relay names, the window's caption, paths) as the operator typed it,
// for the places where Qt would otherwise read it as markup: a name "<b>Pump</b>"
// shows those eleven characters, and "<img src=...>" never loads a file.

// A tooltip that shows `text` literally (Qt takes a tooltip that looks like markup
// for rich text). Text without markup is returned unchanged.
QString plain_tooltip(const QString& text);

// A window title that shows `caption` literally: "[*]" is Qt's placeholder for the
// unsaved-changes mark. An empty caption gives an empty title bar, where Qt and the
// window systems would put the program's name instead.
QString plain_window_title(const QString& caption);
