// Feeds arbitrary bytes to the response reader, once whole and once in arbitrary pieces, and
// interprets every header line as the client does: interim answers (1xx) are read past and
// their fields ignored, locations are applied and cookies kept. Both feeds must hand on the
// same header lines, interim ends and body bytes, and agree on the cookies sent back, which
// must never carry a line end: how the network splits an answer must not change it. (Once the
// reader stops at the header cap the client closes the connection, so the pieces stop.)
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "http/HttpCookies.h"
#include "http/HttpRelocation.h"
#include "http/HttpResponse.h"
#include "http/HttpUrl.h"

namespace {

class Collector : public http::IHttpResponseSink {
  public:
    explicit Collector(bool viaProxy) : viaProxy_(viaProxy) {}

    std::vector<std::string> lines;
    std::string body;
    int begins = 0;
    int ends = 0;
    int interimEnds = 0;
    bool tooLarge = false;
    http::TRequestAddress address{"proxy.test", "3128", "www.a.test", "/dir/page?q", ""};
    http::TCookieJar cookies;
    const http::THttpResponseReader* reader = nullptr;

    void ResponseHeaderBegin() override { ++begins; }
    void ResponseInterimEnd() override { ++interimEnds; }
    void ResponseHeaderLine(std::string line) override {
        lines.push_back(line);
        if (reader->InInterimAnswer())
            return;
        const http::THttpHeaderLine h = http::ClassifyHeaderLine(line);
        if (h.Kind != http::THttpHeaderLine::TKind::Field)
            return;
        if (h.Name == "set-cookie")
            cookies.Receive(h.Value, {address.TargetHost, http::RequestedPath(address), false});
        else if (h.Name == "location")
            http::ApplyRelocation(address, h.Value, viaProxy_);
        else if (h.Name == "content-length")
            (void)http::ParseHeaderInteger(h.Value);
        else if (h.Name == "content-range")
            (void)http::ParseContentRange(h.Value);
    }
    void ResponseHeaderEnd(bool withoutHeader) override { ends += withoutHeader ? 100 : 1; }
    void ResponseHeaderTooLarge() override { tooLarge = true; }
    void ResponseBodyData(const char* data, std::size_t len) override { body.append(data, len); }
    void ResponseOtherLine(const std::string& line) override { lines.push_back("\n" + line); }

    bool operator==(const Collector& o) const {
        return lines == o.lines && body == o.body && begins == o.begins && ends == o.ends &&
               interimEnds == o.interimEnds && tooLarge == o.tooLarge && address == o.address &&
               CookieLine() == o.CookieLine();
    }
    std::string CookieLine() const {
        return cookies.HeaderFor({address.TargetHost, http::RequestedPath(address), false});
    }

  private:
    bool viaProxy_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool viaProxy = input.ConsumeBool();
    const std::size_t cap = input.ConsumeBool() ? http::THttpResponseReader::kDefaultHeaderCap
                                                : input.ConsumeIntegralInRange<std::size_t>(0, 64);
    std::vector<std::size_t> pieces;
    for (int i = 0; i < 8; ++i)
        pieces.push_back(input.ConsumeIntegralInRange<std::size_t>(1, 300));
    const std::string stream = input.ConsumeRemainingBytesAsString();

    Collector whole(viaProxy);
    http::THttpResponseReader wholeReader(whole, cap);
    whole.reader = &wholeReader;
    wholeReader.StartHeader();
    wholeReader.Feed(stream.data(), stream.size());

    Collector split(viaProxy);
    http::THttpResponseReader splitReader(split, cap);
    split.reader = &splitReader;
    splitReader.StartHeader();
    for (std::size_t at = 0, i = 0; at < stream.size(); at += pieces[i++ % pieces.size()]) {
        const std::size_t n = std::min(pieces[i % pieces.size()], stream.size() - at);
        // A stopped reader means the client has closed the connection: nothing more arrives.
        if (!splitReader.Feed(stream.data() + at, n) ||
            splitReader.Mode() == http::THttpResponseReader::TMode::Idle)
            break;
    }

    if (!(whole == split) || wholeReader.Full() != splitReader.Full())
        __builtin_trap();
    // A cookie line goes into the next request's header: it must not be able to break it.
    if (http::HasControlBytes(whole.CookieLine()))
        __builtin_trap();
    return 0;
}
