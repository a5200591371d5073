#include "RecycleBin.h"

#include "app/core/Trash.h"

namespace {

std::shared_ptr<TTrash>& Current() {
    static std::shared_ptr<TTrash> trash = std::make_shared<TFreedesktopTrash>();
    return trash;
}

}  // namespace

TTrash& RecycleBin() {
    return *Current();
}

std::shared_ptr<TTrash> SetRecycleBin(std::shared_ptr<TTrash> trash) {
    auto previous = Current();
    Current() = trash ? std::move(trash) : std::make_shared<TFreedesktopTrash>();
    return previous;
}
