// TDizShellLink: a component that holds a list of linked objects, an Enabled switch and an
// OnChange event. It reads and writes no shortcut files (the favourites scan reads its own),
// and nothing in this program fills its list, so it only exists beside the window's other
// components; a link with nothing in its list has no effect.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sys/Classes.h"

// The linked objects: references only; the list belongs to the link, the objects do not.
class TShellList : public std::vector<sys::TObject*> {};

class TDizShellLink : public sys::TComponent {
  public:
    using TNotifyEvent = std::function<void(sys::TObject* Sender)>;

    explicit TDizShellLink(sys::TComponent* AOwner = nullptr) : sys::TComponent(AOwner) {}

    TShellList& Links() { return links_; }
    const TShellList& Links() const { return links_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    std::string Version() const { return "TDizShellLink V2.3"; }
    void SetVersion(const std::string&) {}

    TNotifyEvent OnChange;

  private:
    TShellList links_;
    bool enabled_ = true;
};
