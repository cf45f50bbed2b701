#include "ui/qt/DialogFont.h"

namespace qdipc {

QStringList SongFaceFamilies() {
    return {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
            QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW")};
}

QFont DialogFont() {
    QFont font;
    font.setFamilies(SongFaceFamilies() + QStringList{QStringLiteral("WenQuanYi Zen Hei"),
                                                      QStringLiteral("Noto Sans CJK SC"),
                                                      QStringLiteral("Noto Sans SC"),
                                                      QStringLiteral("Droid Sans Fallback")});
    font.setPointSize(9);
    return font;
}

}  // namespace qdipc
