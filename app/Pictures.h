// The reader's pictures, drawn in code: the main window's background, the
// splash picture, the window icon and the print button's glyph. They share
// one look: a purple ground (the main window's colour), yellow-to-orange
// lettering and, for the small pictures, the sixteen colours of the classic
// 16-colour palette without smoothing.
//
// Lettering uses DejaVu Sans with sizes in pixels, so a picture comes out
// the same whatever the screen's resolution. Every function draws anew on
// each call; a QGuiApplication must exist (pixmaps and icons need one).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

#include "app/MainLayout.h"

namespace vz::app {

// The main window's background for a layout of its controls (by default
// the form's own, 658 x 363): opaque, covering the whole client area. It
// stays dark and plain where the controls and the two white labels
// ("Machine :" at the top left, "<-Search" beside the search box) lie, and
// carries the program's name in the band above the cheat text.
QPixmap MainBackground(const MainLayout& layout = DefaultMainLayout());

// The splash picture: 289 x 127, opaque. It shows the program's name, what
// it holds, the four machines and, unless `version` is empty, "Version "
// followed by `version`.
QPixmap SplashPicture(const QString& version);

// The program's icon: a purple tile with a yellow V over a game pad, in 16,
// 32 and 48 pixels, drawn in the 16-colour palette with fully opaque or
// fully transparent pixels.
QIcon WindowIcon();
// One size of it (16, 32 or 48; other sizes are drawn on the 32-pixel
// design scaled).
QPixmap WindowIconPixmap(int size);

// The print button's glyph: 32 x 16 holding two 16 x 16 images side by
// side, a small printer (left) and the same printer disabled, greyed and
// embossed (right), in the 16-colour palette on a transparent ground.
QPixmap PrintGlyph();
// The button's icon built from the glyph's halves: the left one for the
// Normal mode, the right one for the Disabled mode.
QIcon PrintIcon();

}  // namespace vz::app
