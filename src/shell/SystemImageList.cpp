#include "SystemImageList.h"

#include "SystemIconTheme.h"

const TSystemImageList& TSystemImageList::Shared(TDizImageListSize size) {
    // Never destroyed, so that no image list can outlive the list it shares.
    static const TSystemImageList* small = new TSystemImageList(si_small, -1);
    static const TSystemImageList* large = new TSystemImageList(si_large, -1);
    return size == si_small ? *small : *large;
}

std::unique_ptr<TSystemImageList> TSystemImageList::Copy() const {
    return std::unique_ptr<TSystemImageList>(new TSystemImageList(size_, Count()));
}

int TSystemImageList::Width() const {
    return size_ == si_small ? shell::SmallSystemIconSize() : shell::LargeSystemIconSize();
}

int TSystemImageList::Count() const {
    return frozen_ >= 0 ? frozen_ : shell::SystemIconTable().Count();
}

QIcon TSystemImageList::Icon(int index) const {
    if (index < 0 || index >= Count())
        return {};
    return shell::SystemIcon(index);
}

QPixmap TSystemImageList::Pixmap(int index) const {
    QIcon icon = Icon(index);
    return icon.isNull() ? QPixmap() : icon.pixmap(Width(), Height());
}

TDizSystemImageList::TDizSystemImageList() {
    SetShareImages(true);
    SetSize(si_small);
}

void TDizSystemImageList::SetSize(TDizImageListSize size) {
    size_ = size;
    RefreshHandle();
}

void TDizSystemImageList::SetShareImages(bool share) {
    share_ = share;
    if (handle_)
        RefreshHandle();
}

void TDizSystemImageList::RefreshHandle() {
    const TSystemImageList& system = TSystemImageList::Shared(size_);
    if (share_) {
        handle_ = &system;
        private_.reset();
        return;
    }
    private_ = system.Copy();
    handle_ = private_.get();
}
