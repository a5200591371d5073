// The line mode layer. Received bytes are collected in the line buffer; each complete line is
// offered to the owner's OnDataAvailable, and the owner's Receive takes it from the front of
// the buffer. The layer sits above TLS, so it serves its bytes at Receive (plain text) and
// reads from the layer below with that layer's Receive.
//
// A line costs no system call, allocation or message: Receive advances the buffer's head, the
// search for the line end goes on where it stopped, and the network is read in large pieces.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "WSocket.h"
#include "WinsockApi.h"

using sys::Word;

namespace {

constexpr char kBackspace = 8;
constexpr char kTab = 9;
constexpr std::size_t kTabWidth = 8;
constexpr std::size_t kLineReadPiece = 256 * 1024;  // at most this much per read

// The bytes before a candidate line end's last byte. Mostly one (CR LF), so that one is
// compared before any loop.
bool EndsWith(const char* Last, const char* LineEnd, std::size_t Length) {
    if (Length == 1)
        return true;
    if (Last[-1] != LineEnd[Length - 2])
        return false;
    for (std::size_t i = 2; i < Length; ++i)
        if (Last[-static_cast<std::ptrdiff_t>(i)] != LineEnd[Length - 1 - i])
            return false;
    return true;
}

}  // namespace

void TCustomLineWSocket::SetLineMode(bool Value) {
    if (Value == FLineMode)
        return;
    const bool Splits = SplitsLines();
    FLineMode = Value;
    if (Splits != SplitsLines())
        LinesStartOrEnd();
}

void TCustomLineWSocket::SetLineEnd(const std::string& Value) {
    const bool Splits = SplitsLines();
    FLineEnd = Value;
    FLineScanned = FLineHead;  // held bytes are searched afresh for the new line end
    ++DeliveryGeneration;
    if (Splits != SplitsLines())
        LinesStartOrEnd();
}

void TCustomLineWSocket::SetLineLimit(std::size_t Value) {
    FLineLimit = Value;
    if (FReadingHeldBack && !HoldsEnough())
        ResumeReading();
}

// The bytes received from now on belong to the handshake, which reads them itself.
void TCustomLineWSocket::HandshakeBegins() {
    ++DeliveryGeneration;
    if (FReadingHeldBack)
        ResumeReading();
}

// The unread part of a line stays at the front and is served first by the next reads, and so
// are the bytes held behind it.
void TCustomLineWSocket::LinesStartOrEnd() {
    ++DeliveryGeneration;
    if (!SplitsLines())
        FPendingLine = 0;
    FLineScanned = FLineHead;
    if (FReadingHeldBack)
        ResumeReading();
    // Posted, never sent: a change inside a handler takes effect after it has returned.
    if (HeldCount() > 0)
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
    return SplitsLines() && !SocksNegotiating() && !SslHandshaking();
}

// Receiving.

// A slow owner slows the peer: while it leaves a line untaken, no more than LineLimit bytes
// (HoldAhead at most) are held behind it, and the rest waits in the network, where TCP flow
// control holds the peer back, instead of in this buffer.
bool TCustomLineWSocket::HoldsEnough() const {
    if (FPendingLine == 0)
        return false;
    const std::size_t Ahead = FLineLimit != 0 ? std::min(FLineLimit, HoldAhead) : HoldAhead;
    return HeldCount() - FPendingLine >= Ahead;
}

// Lines held back while the owner had not taken the one before go before any more is read.
// False when the handler ended the lines or the connection meanwhile.
bool TCustomLineWSocket::DeliverHeldLines() {
    const SOCKET S = SocketHandle;
    DeliverLines();
    return S == SocketHandle && LinesReady();
}

// The network was left unread, so no read notification comes by itself: one is posted.
void TCustomLineWSocket::ResumeReading() {
    FReadingHeldBack = false;
    sys::PostMessage(WindowHandle, WM_SOCKET_SELECT, static_cast<sys::WPARAM>(SocketHandle),
                     ws::WSAMAKESELECTREPLY(ws::FD_READ, 0));
}

bool TCustomLineWSocket::DoDataAvailable(Word Error) {
    if (!LinesReady())
        return TCustomSslWSocket::DoDataAvailable(Error);
    if (FPendingLine == 0 && FLineScanned < FLineTail && !DeliverHeldLines())
        return true;
    if (HoldsEnough()) {
        FReadingHeldBack = true;  // no read: the receive loop ends, nothing more is notified
        return true;
    }
    // One piece per pass, read without asking the count first: a read that finds nothing costs
    // what the question would. The receive loop comes back for the rest.
    MakeRoom(kLineReadPiece);
    std::size_t Start = FLineTail;
    const unsigned Mark = ReadMark();
    const int n =
        TCustomSslWSocket::Receive(FLineBuffer.get() + Start, static_cast<int>(kLineReadPiece));
    if (n <= 0) {
        // Nothing came (an earlier read took it, or only the peer's end): no fault, and no read
        // for the receive loop, which would otherwise offer a line left unread for ever.
        if (FLastError == ws::WSAEWOULDBLOCK)
            FLastError = 0;
        ForgetReadsSince(Mark);
        return true;
    }
    std::size_t Count = static_cast<std::size_t>(n);
    FLineTail += Count;
    if (FLineEdit)
        EditLine(Start, Count);
    else if (FLineEcho)
        EchoReceived(Start, Count);
    DeliverLines();
    return true;
}

// Room for Wanted bytes behind the held ones. The held bytes move to the front once the head
// has passed half the buffer or when they would not fit otherwise; the buffer doubles only when
// they do not fit even then, so a line longer than any buffer still costs linear time.
void TCustomLineWSocket::MakeRoom(std::size_t Wanted) {
    const std::size_t Held = HeldCount();
    if (FLineHead > 0 && (FLineHead >= FLineCapacity / 2 || FLineTail + Wanted > FLineCapacity)) {
        std::memmove(FLineBuffer.get(), FLineBuffer.get() + FLineHead, Held);
        FLineScanned -= FLineHead;
        FLineHead = 0;
        FLineTail = Held;
    }
    if (FLineTail + Wanted <= FLineCapacity)
        return;
    const std::size_t Capacity = std::max(FLineCapacity * 2, FLineTail + Wanted);
    auto Grown = std::make_unique_for_overwrite<char[]>(Capacity);
    if (Held > 0)
        std::memcpy(Grown.get(), FLineBuffer.get(), Held);
    FLineBuffer = std::move(Grown);
    FLineCapacity = Capacity;
}

void TCustomLineWSocket::Consume(std::size_t Count) {
    FLineHead += Count;
    if (FLineHead == FLineTail)
        FLineHead = FLineTail = FLineScanned = 0;  // empty: the next read starts at the front
    else
        FLineScanned = std::max(FLineScanned, FLineHead);
    if (FReadingHeldBack && !HoldsEnough()) [[unlikely]]
        ResumeReading();
}

// The end of the connection: a delivery loop running meanwhile stops.
void TCustomLineWSocket::FreeLineBuffer() {
    FLineBuffer.reset();
    FLineCapacity = FLineHead = FLineTail = FLineScanned = 0;
    FPendingLine = 0;
    FReadingHeldBack = false;
    ++DeliveryGeneration;
}

// Copied first: a Send that finds the connection reset closes it, which frees the buffer.
void TCustomLineWSocket::EchoReceived(std::size_t Start, std::size_t Count) {
    const std::string Echo(FLineBuffer.get() + Start, Count);
    Send(Echo.data(), static_cast<int>(Echo.size()));
}

// Makes the first complete line held (its LineEnd included) pending; false when there is none.
// The search looks for the line end's last byte and checks the bytes before it, so it goes on
// where it stopped and still finds a line end split across two reads. Inline, as TakeNextLine:
// both run once per line and are called only here.
inline bool TCustomLineWSocket::FindLineEnd(std::string_view End) {
    const char* Buf = FLineBuffer.get();
    const std::size_t Tail = FLineTail;
    std::size_t From = FLineScanned;
    while (From < Tail) {
        const void* Hit = std::memchr(Buf + From, End.back(), Tail - From);
        if (Hit == nullptr)
            break;
        From = static_cast<std::size_t>(static_cast<const char*>(Hit) - Buf) + 1;
        const std::size_t Length = From - FLineHead;
        if (Length >= End.size() && EndsWith(Buf + From - 1, End.data(), End.size())) {
            FLineScanned = From;
            FPendingLine = Length;
            return true;
        }
    }
    FLineScanned = Tail;
    return false;
}

// Makes the next line pending: the next complete one, or the bytes held as one line when they
// reach the limit without a line end (bounded memory, nothing lost). False when there is none.
inline bool TCustomLineWSocket::TakeNextLine(std::string_view End) {
    return FindLineEnd(End) || (FLineLimit != 0 && HeldCount() >= FLineLimit && TakeOverlongLine());
}

// Kept out of TakeNextLine, which runs once per line and is inlined where it is called.
bool TCustomLineWSocket::TakeOverlongLine() {
    const SOCKET S = SocketHandle;
    DoLineTooLong();
    if (S != SocketHandle || !LinesReady() || FPendingLine > 0 || HeldCount() < FLineLimit)
        return false;
    FPendingLine = HeldCount();
    return true;
}

// Offers the pending line once. False when the loop must stop: the connection changed, or the
// owner read nothing (the line is offered again with the next bytes).
inline bool TCustomLineWSocket::OfferLine(SOCKET S) {
    const std::size_t Before = FPendingLine;
    if (!RaiseDataAvailable(0)) {
        FPendingLine = 0;
        Consume(Before);  // nobody listens: the line is dropped
        return true;
    }
    return S == SocketHandle && FPendingLine != Before;
}

// Offers every complete line in turn, raising OnDataAvailable while the owner reads the
// pending line. A line the owner leaves unread stays pending: it is offered again with the next
// bytes or the next delivery message, never in a loop here. One loop for all of it: it runs once
// per line, and the calls it saves are a good part of a line's cost.
//
// A handler may change what the loop depends on (line mode, line end, a handshake, the
// connection). While DeliveryGeneration stays the same none of that changed but the handle, so
// the inner loop compares two numbers per line; any other change sends it back to the full
// check, and the line end it took there is not used again.
void TCustomLineWSocket::DeliverLines() {
    const SOCKET S = SocketHandle;
    for (;;) {
        if (!LinesReady()) {
            // Only a line pending already goes on (the owner began a handshake, say).
            if (FPendingLine == 0 || !FLineMode || !OfferLine(S))
                return;
            continue;
        }
        const unsigned Generation = DeliveryGeneration;
        const std::string_view End = FLineEnd;
        do {
            if (FPendingLine == 0 && !TakeNextLine(End))
                return;
            if (!OfferLine(S))
                return;
        } while (Generation == DeliveryGeneration);
    }
}

// Bytes held with nothing new from the network: after LineMode changed.
void TCustomLineWSocket::DeliverHeld() {
    if (LinesReady())
        return DeliverLines();
    if (SplitsLines())
        return;
    const SOCKET S = SocketHandle;
    while (HeldCount() > 0 && !SplitsLines()) {
        const std::size_t Before = HeldCount();
        if (!RaiseDataAvailable(0) || S != SocketHandle || HeldCount() == Before)
            return;
    }
    if (LinesReady())
        DeliverLines();
}

// The held bytes as they are, once the lines have ended.
std::size_t TCustomLineWSocket::TakeFromBuffer(void* Buffer, std::size_t Size) {
    const std::size_t n = std::min(Size, HeldCount());
    std::memcpy(Buffer, FLineBuffer.get() + FLineHead, n);
    Consume(n);
    return n;
}

int TCustomLineWSocket::Receive(void* Buffer, int BufferSize) {
    // The owner takes the pending line: once per line, so the buffer is updated before the copy
    // (which may write anywhere, as far as the compiler knows) and nothing is read again after.
    if (FLineMode && FPendingLine > 0 && BufferSize > 0) {
        const std::size_t n = std::min(FPendingLine, static_cast<std::size_t>(BufferSize));
        const char* Line = FLineBuffer.get() + FLineHead;
        FPendingLine -= n;
        NoteLayerRead();
        Consume(n);  // leaves the bytes where they are
        std::memcpy(Buffer, Line, n);
        return static_cast<int>(n);
    }
    if (SplitsLines() || HeldCount() == 0 || BufferSize <= 0)
        return TCustomSslWSocket::Receive(Buffer, BufferSize);
    NoteLayerRead();
    return static_cast<int>(TakeFromBuffer(Buffer, static_cast<std::size_t>(BufferSize)));
}

int TCustomLineWSocket::GetRcvdCount() {
    if (SplitsLines())
        return static_cast<int>(FPendingLine);
    const int Below = TCustomSslWSocket::GetRcvdCount();
    return static_cast<int>(HeldCount()) + std::max(Below, 0);
}

int TCustomLineWSocket::BufferedCount() {
    const int Below = TCustomSslWSocket::BufferedCount();
    return static_cast<int>(SplitsLines() ? FPendingLine : HeldCount()) + Below;
}

// The end of the connection: the rest comes as a last line, even without a line end.
void TCustomLineWSocket::DoSessionClosed(Word Error) {
    if (SplitsLines() && HeldCount() > 0 && !SocksNegotiating()) {
        FPendingLine = HeldCount();
        while (SplitsLines() && FPendingLine > 0) {
            const std::size_t Before = FPendingLine;
            if (!RaiseDataAvailable(0) || FPendingLine == Before)
                break;
        }
    }
    FreeLineBuffer();
    TCustomSslWSocket::DoSessionClosed(Error);
}

void TCustomLineWSocket::DoLineTooLong() {
    OnLineTooLong.Call(this);
}

// Line editing.

// Works on a copy of the held and the new bytes and puts the result back: the slow path of
// terminal protocols, where a backspace may take back a byte held from before.
void TCustomLineWSocket::EditLine(std::size_t& Start, std::size_t& Count) {
    std::string Edited(FLineBuffer.get() + FLineHead, Start - FLineHead);
    const std::string Received(FLineBuffer.get() + Start, Count);
    const std::size_t Scanned = FLineScanned - FLineHead;
    std::string Echo;
    std::size_t Lowest = Edited.size();
    for (char c : Received) {
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
    FLineTail = FLineHead;
    MakeRoom(Edited.size());
    std::memcpy(FLineBuffer.get() + FLineHead, Edited.data(), Edited.size());
    FLineTail = FLineHead + Edited.size();
    FLineScanned = FLineHead + std::min(Scanned, Lowest);
    Start = FLineHead + Lowest;
    Count = Edited.size() - Lowest;
    if (!Echo.empty())
        Send(Echo.data(), static_cast<int>(Echo.size()));
}
