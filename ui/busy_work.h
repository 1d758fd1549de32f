#pragma once
// Long file work started from a window (a PDF with map pictures that wait for
// their tiles, a GIS export, a printout): run on a worker thread while a
// modal, busy progress box keeps the windows painted and input away from what
// the work reads.

#include <QString>
#include <functional>

class QWidget;

namespace dorvane {

/// Runs `work` on a new thread and returns when it has ended. Meanwhile a
/// modal progress box with `text` (no cancel button: the work is bounded by
/// its own time-outs) runs the GUI thread's event loop. Call on the GUI
/// thread; `work` must not touch widgets. What `work` captures by reference
/// stays valid, as this call does not return before the work ends. An
/// exception thrown by `work` is thrown again here, after the box closed.
void RunWhileBusy(QWidget* parent, const QString& text, const std::function<void()>& work);

/// Reports a step of long work: (done, all). Returns false once the user
/// pressed Cancel; the work then stops at its next step.
using ProgressStep = std::function<bool(int, int)>;

/// Like RunWhileBusy, for work that counts its steps: the box shows a bar and
/// a Cancel button. `work` runs on a new thread and calls `step` (from that
/// thread) as it goes; Cancel only sets a flag, so the work decides where it
/// stops. Returns true when the user pressed Cancel.
bool RunWithProgress(QWidget* parent, const QString& text, const std::function<void(const ProgressStep& step)>& work);

}  // namespace dorvane
