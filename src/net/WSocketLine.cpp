// The line mode layer. Received bytes are collected in the line buffer; each complete line is
// offered to the owner's OnDataAvailable, and the owner's Receive takes it from the front of
// the buffer. The layer sits above TLS, so it serves its bytes at Receive (plain text) and
// reads from the layer below with that layer's Receive.
#include <algorithm>
#include <cstring>

#include "WSocket.h"
#include "WinsockApi.h"

using sys::Word;

namespace {

constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr std::size_t kTabWidth = 8;
constexpr int kLineReadPiece = 4096;  // bytes read from the network per pass in line mode

}  // namespace

void TCustomLineWSocket::SetLineMode(bool Value) {
    if (Value == FLineMode)
        return;
    FLineMode = Value;
    // The unread part of a line stays at the front and is served first by the next reads.
    if (!FLineMode)
        FPendingLine = 0;
    // Posted, never sent: a change inside a handler takes effect after it has returned.
    if (!FLineBuffer.empty())
        sys::PostMessage(WindowHandle, WM_SOCKET_LINE_DELIVER, 0, 0);
}

void TCustomLineWSocket::WndProc(sys::TMessage& MsgRec) {
    if (MsgRec.Msg != WM_SOCKET_LINE_DELIVER)
        return TCustomSslWSocket::WndProc(MsgRec);
    TActiveScope scope(this);
    try {
        DeliverHeld();
    } catch (const std::exception& E) {
        HandleBgException(E);
    }
}

// True while the owner sees the connection: not during the SOCKS or TLS handshake, whose bytes
// belong to the layers below.
bool TCustomLineWSocket::LinesReady() const {
    return FLineMode && !FLineEnd.empty() && !SocksNegotiating() && !SslHandshaking();
}

// Receiving.

bool TCustomLineWSocket::DoDataAvailable(Word Error) {
    if (!LinesReady())
        return TCustomSslWSocket::DoDataAvailable(Error);
    // Lines are taken from the front of the buffer, which moves what follows them; reading a
    // bounded piece at a time keeps that cost per line small however much the network holds.
    // The receive loop comes back for the rest.
    const int Waiting = std::min(TCustomSslWSocket::GetRcvdCount(), kLineReadPiece);
    if (Waiting <= 0)
        return true;
    std::size_t Start = FLineBuffer.size();
    FLineBuffer.resize(Start + static_cast<std::size_t>(Waiting));
    const int n = TCustomSslWSocket::Receive(FLineBuffer.data() + Start, Waiting);
    FLineBuffer.resize(Start + static_cast<std::size_t>(std::max(n, 0)));
    if (n <= 0)
        return true;
    std::size_t Count = static_cast<std::size_t>(n);
    if (FLineEdit)
        EditLine(Start, Count);
    else if (FLineEcho)
        EchoReceived(Start, Count);
    // A line end split across two reads is found from a line end's length before the new bytes.
    DeliverLines(Start > FLineEnd.size() ? Start - FLineEnd.size() : 0);
    return true;
}

void TCustomLineWSocket::EchoReceived(std::size_t Start, std::size_t Count) {
    const std::string Echo = FLineBuffer.substr(Start, Count);
    Send(Echo.data(), static_cast<int>(Echo.size()));
}

// Offers every complete line in turn. A line the owner leaves unread stays pending: it is
// offered again with the next bytes or the next delivery message, never in a loop here.
void TCustomLineWSocket::DeliverLines(std::size_t SearchFrom) {
    while (LinesReady()) {
        if (FPendingLine == 0) {
            const std::size_t At = FLineBuffer.find(FLineEnd, SearchFrom);
            if (At != std::string::npos) {
                FPendingLine = At + FLineEnd.size();
            } else if (FLineLimit != 0 && FLineBuffer.size() >= FLineLimit) {
                // Bounded memory, nothing lost: the owner gets the bytes as one line.
                const SOCKET S = SocketHandle;
                if (auto Handler = OnLineTooLong)
                    Handler(this);
                if (S != SocketHandle || !LinesReady() || FLineBuffer.size() < FLineLimit)
                    return;
                FPendingLine = FLineBuffer.size();
            } else {
                return;
            }
        }
        if (!OfferPendingLine())
            return;
        SearchFrom = 0;
    }
}

// Raises OnDataAvailable while the owner reads the pending line. False when the owner stopped
// reading, closed the socket or left line mode.
bool TCustomLineWSocket::OfferPendingLine() {
    const SOCKET S = SocketHandle;
    while (FLineMode && FPendingLine > 0) {
        const std::size_t Before = FPendingLine;
        if (!TCustomWSocket::DoDataAvailable(0)) {
            // Nobody listens: the line is dropped.
            FLineBuffer.erase(0, FPendingLine);
            FPendingLine = 0;
            return true;
        }
        if (S != SocketHandle || FPendingLine == Before)
            return false;
    }
    return FLineMode;
}

// Bytes held with nothing new from the network: after LineMode changed.
void TCustomLineWSocket::DeliverHeld() {
    if (LinesReady())
        return DeliverLines(0);
    if (FLineMode)
        return;
    const SOCKET S = SocketHandle;
    while (!FLineBuffer.empty() && !FLineMode) {
        const std::size_t Before = FLineBuffer.size();
        if (!TCustomWSocket::DoDataAvailable(0) || S != SocketHandle ||
            FLineBuffer.size() == Before)
            return;
    }
    if (LinesReady())
        DeliverLines(0);
}

std::size_t TCustomLineWSocket::TakeFromBuffer(void* Buffer, std::size_t Size) {
    const std::size_t Available = FLineMode ? FPendingLine : FLineBuffer.size();
    const std::size_t n = std::min(Size, Available);
    std::memcpy(Buffer, FLineBuffer.data(), n);
    FLineBuffer.erase(0, n);
    if (FLineMode)
        FPendingLine -= n;
    return n;
}

int TCustomLineWSocket::Receive(void* Buffer, int BufferSize) {
    const bool Serve = FLineMode ? FPendingLine > 0 : !FLineBuffer.empty();
    if (!Serve || BufferSize <= 0)
        return TCustomSslWSocket::Receive(Buffer, BufferSize);
    NoteLayerRead();
    return static_cast<int>(TakeFromBuffer(Buffer, static_cast<std::size_t>(BufferSize)));
}

int TCustomLineWSocket::GetRcvdCount() {
    if (FLineMode)
        return static_cast<int>(FPendingLine);
    const int Below = TCustomSslWSocket::GetRcvdCount();
    return static_cast<int>(FLineBuffer.size()) + std::max(Below, 0);
}

int TCustomLineWSocket::BufferedCount() {
    const int Below = TCustomSslWSocket::BufferedCount();
    return (FLineMode ? static_cast<int>(FPendingLine) : static_cast<int>(FLineBuffer.size())) +
           Below;
}

// The end of the connection: the rest comes as a last line, even without a line end.
void TCustomLineWSocket::DoSessionClosed(Word Error) {
    if (FLineMode && !FLineBuffer.empty() && !SocksNegotiating()) {
        FPendingLine = FLineBuffer.size();
        while (FLineMode && FPendingLine > 0) {
            const std::size_t Before = FPendingLine;
            if (!TCustomWSocket::DoDataAvailable(0) || FPendingLine == Before)
                break;
        }
    }
    FLineBuffer.clear();
    FLineBuffer.shrink_to_fit();
    FPendingLine = 0;
    TCustomSslWSocket::DoSessionClosed(Error);
}

// Line editing.

void TCustomLineWSocket::EditLine(std::size_t& Start, std::size_t& Count) {
    std::string Edited = FLineBuffer.substr(0, Start);
    std::string Echo;
    std::size_t Lowest = Start;
    for (char c : FLineBuffer.substr(Start, Count)) {
        if (c == kBackspace) {
            if (FLineEcho && !Edited.empty())
                Echo += "\b \b";
            if (!Edited.empty()) {
                Edited.pop_back();
                Lowest = std::min(Lowest, Edited.size());
            }
        } else if (c == kTab) {
            do {
                Edited += ' ';
                if (FLineEcho)
                    Echo += ' ';
            } while (Edited.size() % kTabWidth != 0);
        } else {
            Edited += c;
            if (FLineEcho)
                Echo += c;
        }
    }
    FLineBuffer = std::move(Edited);
    Start = Lowest;
    Count = FLineBuffer.size() - Lowest;
    if (!Echo.empty())
        Send(Echo.data(), static_cast<int>(Echo.size()));
}
