#include "SocketTestSupport.h"

#include <algorithm>

namespace nettest {

std::string StateName(TSocketState s) {
    static const char* names[] = {"Invalid",   "Opened",    "Bound",     "Connecting",
                                  "Connected", "Accepting", "Listening", "Closed"};
    return names[s];
}

void TEventLog::Attach(TCustomWSocket& s) {
    auto num = [](sys::Word e) { return "(" + std::to_string(e) + ")"; };
    s.OnSessionConnected = [this, num](sys::TObject*, sys::Word e) {
        Events.push_back("Connected" + num(e));
    };
    s.OnSessionClosed = [this, num](sys::TObject*, sys::Word e) {
        Events.push_back("Closed" + num(e));
    };
    s.OnDataSent = [this, num](sys::TObject*, sys::Word e) { Events.push_back("Sent" + num(e)); };
    s.OnChangeState = [this](sys::TObject*, TSocketState o, TSocketState n) {
        Events.push_back(StateName(o) + ">" + StateName(n));
    };
    s.OnDnsLookupDone = [this, num](sys::TObject*, sys::Word e) {
        Events.push_back("Dns" + num(e));
    };
}

bool TEventLog::Has(const std::string& e) const {
    return std::find(Events.begin(), Events.end(), e) != Events.end();
}

int TEventLog::Count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(Events.begin(), Events.end(), [&](const std::string& e) {
        return e.rfind(prefix, 0) == 0;
    }));
}

}  // namespace nettest
