#pragma once
// The dialogs' font: 9-point SimSun (宋体), the face the forms are laid out
// for. Its lines are 12 pixels high at 96 dpi and its Latin letters are
// half-width, 6 pixels each, so every caption fits the pixel sizes of the
// forms. Where SimSun is missing, a Song (Ming) face with the same metrics
// stands in: AR PL UMing (Debian's fonts-arphic-uming). Other installed CJK
// faces come last; they are wider or taller and may cut captions off.

#include <QFont>
#include <QStringList>

namespace qdipc {

// The faces whose metrics match the forms, most preferred first.
QStringList SongFaceFamilies();

// 9 points, the Song faces first, then any CJK face that is installed.
QFont DialogFont();

}  // namespace qdipc
