// kelpora-sax-bench: how much of bare libxml2's SAX throughput the SAX2 layer keeps.
//
//   kelpora-sax-bench FILE [--repeat N]
//
// Parses FILE with libxml2's push parser and do-nothing counting callbacks, then through TSAX2MSReader with
// a counting TSAXDefaultHandler descendant (same chunk size, same parser options), N times each (best time
// counts), and prints both throughputs in MB/s and their ratio.
#include "sax/SAX2MS.h"

#include <libxml/parser.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct TCounts {
    long long starts = 0, ends = 0, texts = 0, bytes = 0, other = 0;
    long long Events() const { return starts + ends + texts + other; }
};

// ---- bare libxml2 ----

void BareStartNs(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                 const xmlChar**) {
    ++static_cast<TCounts*>(ctx)->starts;
}
void BareEndNs(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    ++static_cast<TCounts*>(ctx)->ends;
}
void BareText(void* ctx, const xmlChar*, int len) {
    auto* c = static_cast<TCounts*>(ctx);
    ++c->texts;
    c->bytes += len;
}
void BareComment(void* ctx, const xmlChar*) {
    ++static_cast<TCounts*>(ctx)->other;
}
void BarePI(void* ctx, const xmlChar*, const xmlChar*) {
    ++static_cast<TCounts*>(ctx)->other;
}

bool ParseBare(const char* path, TCounts& counts) {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &BareStartNs;
    sax.endElementNs = &BareEndNs;
    sax.characters = &BareText;
    sax.ignorableWhitespace = &BareText; // as the reader configures libxml2
    sax.cdataBlock = &BareText;
    sax.comment = &BareComment;
    sax.processingInstruction = &BarePI;
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    std::vector<char> buf(64 * 1024);
    std::size_t n = std::fread(buf.data(), 1, 4, f);
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, &counts, buf.data(), static_cast<int>(n), nullptr);
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
        xmlParseChunk(ctxt, buf.data(), static_cast<int>(n), 0);
    xmlParseChunk(ctxt, nullptr, 0, 1);
    const bool ok = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);
    std::fclose(f);
    return ok;
}

// ---- through the layer ----

class TCountingHandler : public TSAXDefaultHandler {
public:
    TCounts* counts = nullptr;
    void StartElement(const std::string&, const std::string&, const std::string&, ISAXAttributes*) override {
        ++counts->starts;
    }
    void EndElement(const std::string&, const std::string&, const std::string&) override { ++counts->ends; }
    void Characters(const std::string& Text) override {
        ++counts->texts;
        counts->bytes += static_cast<long long>(Text.size());
    }
    void ProcessingInstruction(const std::string&, const std::string&) override { ++counts->other; }
};

bool ParseLayer(const char* path, TCounts& counts) {
    auto handler = MakeInterfaced<TCountingHandler>();
    handler->counts = &counts;
    auto reader = MakeInterfaced<TSAX2MSReader>();
    reader->SetContentHandler(handler.get());
    try {
        reader->Parse(std::string(path));
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "layer: %s\n", e.what());
        return false;
    }
}

template <class F> double BestSeconds(int repeat, F&& run) {
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!run())
            return -1;
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        best = std::min(best, d.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kelpora-sax-bench FILE [--repeat N]\n");
        return 2;
    }
    const char* path = argv[1];
    int repeat = 1;
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
    struct stat st {};
    if (stat(path, &st) != 0) {
        std::perror(path);
        return 1;
    }
    const double mb = static_cast<double>(st.st_size) / (1024.0 * 1024.0);

    // Read the file once untimed, so that neither parse pays for bringing it into the page cache.
    if (std::FILE* f = std::fopen(path, "rb")) {
        std::vector<char> buf(1 << 20);
        while (std::fread(buf.data(), 1, buf.size(), f) > 0) {
        }
        std::fclose(f);
    }

    TCounts bare, layer;
    const double tBare = BestSeconds(repeat, [&] {
        bare = TCounts();
        return ParseBare(path, bare);
    });
    const double tLayer = BestSeconds(repeat, [&] {
        layer = TCounts();
        return ParseLayer(path, layer);
    });
    if (tBare < 0 || tLayer < 0) {
        std::fprintf(stderr, "parse failed\n");
        return 1;
    }
    std::printf("file: %s (%.1f MB), best of %d\n", path, mb, repeat);
    std::printf("bare libxml2 SAX : %8.3f s %8.1f MB/s  %lld events (%lld starts, %lld text pieces)\n", tBare,
                mb / tBare, bare.Events(), bare.starts, bare.texts);
    std::printf("TSAX2MSReader    : %8.3f s %8.1f MB/s  %lld events (%lld starts, %lld text runs)\n", tLayer,
                mb / tLayer, layer.Events(), layer.starts, layer.texts);
    std::printf("ratio (layer / bare throughput): %.1f %%\n", 100.0 * tBare / tLayer);
    if (bare.starts != layer.starts || bare.ends != layer.ends || bare.bytes != layer.bytes) {
        std::fprintf(stderr, "event counts differ\n");
        return 1;
    }
    return 0;
}
