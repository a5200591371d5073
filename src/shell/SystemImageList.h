// TDizSystemImageList: an image list that shows the system's own file and folder icons under
// the indexes the shell browser reports. A sharing list attaches to the process-wide list of
// its size and never destroys it; a non-sharing list holds a private copy of its own.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <memory>

enum TDizImageListSize { si_small, si_large };

// The system's image list of one icon size; the shared ones live as long as the process.
class TSystemImageList {
  public:
    static const TSystemImageList& Shared(TDizImageListSize size);
    // A private list with the same images as this one.
    std::unique_ptr<TSystemImageList> Copy() const;

    TDizImageListSize Size() const { return size_; }
    int Width() const;
    int Height() const { return Width(); }
    int Count() const;
    // The icon of an index; null without a QGuiApplication or for an index out of range.
    QIcon Icon(int index) const;
    QPixmap Pixmap(int index) const;

  private:
    TSystemImageList(TDizImageListSize size, int frozenCount) : size_(size), frozen_(frozenCount) {}
    TDizImageListSize size_;
    int frozen_;  // the count of a private copy; -1 for a shared list, which keeps growing
};

class TDizSystemImageList {
  public:
    TDizSystemImageList();
    TDizSystemImageList(const TDizSystemImageList&) = delete;
    TDizSystemImageList& operator=(const TDizSystemImageList&) = delete;

    TDizImageListSize Size() const { return size_; }
    void SetSize(TDizImageListSize size);
    bool ShareImages() const { return share_; }
    void SetShareImages(bool share);

    // The list the images come from: the shared system list when sharing, else the copy.
    const TSystemImageList* Handle() const { return handle_; }
    int Width() const { return handle_->Width(); }
    int Height() const { return handle_->Height(); }
    int Count() const { return handle_->Count(); }
    QIcon Icon(int index) const { return handle_->Icon(index); }
    QPixmap Pixmap(int index) const { return handle_->Pixmap(index); }

  private:
    void RefreshHandle();

    TDizImageListSize size_ = si_small;
    bool share_ = true;
    const TSystemImageList* handle_ = nullptr;
    std::unique_ptr<TSystemImageList> private_;
};
