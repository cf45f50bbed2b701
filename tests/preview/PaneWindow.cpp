#include "PaneWindow.h"

#include <QVBoxLayout>

namespace qdipc::test {

PaneWindow::PaneWindow(const QString& title, LibVlcBackend::RtspRoute route) {
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    pane = new CVideoStatic(std::make_unique<LibVlcBackend>(route), &window);
    pane->setFixedSize(320, 240);
    layout->addWidget(pane);
    if (!title.isEmpty()) {
        window.setWindowTitle(title);
    }
    window.show();
}

}  // namespace qdipc::test
