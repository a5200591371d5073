#include "Pictures.h"

#include <QString>

// The resources live in this static library, so their registration has to be pulled in by
// hand; this must stand outside any namespace.
static void RegisterPictureResources() {
    Q_INIT_RESOURCE(images);
}

QPixmap LoadPicture(const char* fileName) {
    static const bool registered = (RegisterPictureResources(), true);
    (void)registered;
    return QPixmap(QStringLiteral(":/images/") + QString::fromLatin1(fileName));
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(LoadPicture("quorvane16.gif"));
    icon.addPixmap(LoadPicture("quorvane.gif"));
    return icon;
}
