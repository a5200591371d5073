// Message boxes that tests answer: every box shown is recorded, and answered with the next
// queued answer (Ok for an OK box, No for a Yes/No box when nothing is queued).
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "app/MessageBoxes.h"

class TScriptedMessageBoxes : public IMessageBoxes {
  public:
    TMsgAnswer Show(QWidget*, const TMessageBoxRequest& request) override {
        Shown.push_back(request);
        if (!Answers.empty()) {
            TMsgAnswer answer = Answers.front();
            Answers.pop_front();
            return answer;
        }
        return request.Buttons == TMsgButtons::YesNo ? TMsgAnswer::No : TMsgAnswer::Ok;
    }

    std::vector<TMessageBoxRequest> Shown;
    std::deque<TMsgAnswer> Answers;
};

// Installs scripted boxes for the life of the object and restores the previous ones.
class TScriptedMessageBoxesScope {
  public:
    TScriptedMessageBoxesScope()
        : boxes_(std::make_shared<TScriptedMessageBoxes>()), previous_(SetMessageBoxes(boxes_)) {}
    ~TScriptedMessageBoxesScope() { SetMessageBoxes(previous_); }
    TScriptedMessageBoxes& operator*() { return *boxes_; }
    TScriptedMessageBoxes* operator->() { return boxes_.get(); }

  private:
    std::shared_ptr<TScriptedMessageBoxes> boxes_;
    std::shared_ptr<IMessageBoxes> previous_;
};
