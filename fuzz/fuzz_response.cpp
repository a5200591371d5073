// Feeds arbitrary bytes to the response reader, once whole and once in arbitrary pieces, and
// interprets every header line as the client does. Both feeds must hand on the same header
// lines and the same body bytes: how the network splits an answer must not change it. (Once
// the reader stops at the header cap the client closes the connection, so the pieces stop.)
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "http/HttpRelocation.h"
#include "http/HttpResponse.h"

namespace {

class Collector : public http::IHttpResponseSink {
  public:
    explicit Collector(bool viaProxy) : viaProxy_(viaProxy) {}

    std::vector<std::string> lines;
    std::string body;
    int begins = 0;
    int ends = 0;
    bool tooLarge = false;
    http::TRequestAddress address{"proxy.test", "3128", "www.a.test", "/dir/page?q", ""};

    void ResponseHeaderBegin() override { ++begins; }
    void ResponseHeaderLine(std::string line) override {
        lines.push_back(line);
        const http::THttpHeaderLine h = http::ClassifyHeaderLine(line);
        if (h.Kind != http::THttpHeaderLine::TKind::Field)
            return;
        if (h.Name == "location")
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
               tooLarge == o.tooLarge && address == o.address;
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
    wholeReader.StartHeader();
    wholeReader.Feed(stream.data(), stream.size());

    Collector split(viaProxy);
    http::THttpResponseReader splitReader(split, cap);
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
    return 0;
}
