#pragma once
// The dialogs' font: 9-point SimSun (宋体), as the dialog templates give it,
// falling back to an installed CJK font where SimSun is missing.

#include <QFont>

namespace qdipc {

QFont DialogFont();

}  // namespace qdipc
