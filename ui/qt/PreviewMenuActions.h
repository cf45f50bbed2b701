#pragma once
// The row menu's "Stream Info" and "Save Snapshot…": what the preview pane
// plays and a picture of it to keep. The pane measures and writes; these only
// show its text and ask for the file.

#include <QString>
#include <functional>

class CVideoStatic;
class QWidget;

namespace qdipc {

// A small box with the pane's StreamInfoText as plain text, read again every
// second while it is open. Not modal: the window stays usable.
void ShowStreamInfo(QWidget* parent, CVideoStatic* pane);

// The name offered for a snapshot of the stream at location taken now:
// "HOST-YYYYMMDD-HHMMSS.png" ("snapshot-..." without a host).
QString SnapshotFileName(const std::string& location);

// Asks for the file (chooseFile: a save dialog by default; an empty answer
// cancels), adds ".png" to a name without an extension and asks the pane for
// the picture. A reason there is none, or a failure later, goes to warn; a
// saved picture is named in a box that does not wait.
void SaveSnapshotAs(QWidget* parent, CVideoStatic* pane, std::function<void(const QString&)> warn,
                    std::function<QString(const QString& proposed)> chooseFile = {});

}  // namespace qdipc
