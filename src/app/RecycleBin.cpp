#include "RecycleBin.h"

#include "app/core/Trash.h"

TTrash& RecycleBin() {
    static TFreedesktopTrash trash;
    return trash;
}
