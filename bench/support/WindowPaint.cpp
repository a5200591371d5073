#include "WindowPaint.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/MainUnit.h"

namespace benchsupport {

bool WaitUntilPainted(TMainForm& form) {
    bool timedOut = false;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&] { timedOut = true; });
    bound.start(30000);
    while (form.ProgressRect.isEmpty() && !timedOut)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !form.ProgressRect.isEmpty();
}

}  // namespace benchsupport
