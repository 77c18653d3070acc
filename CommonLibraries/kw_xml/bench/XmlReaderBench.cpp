// Parses a generated update script of about 5 MB through XmlReader into a
// document and, as the reference in the same run, through bare expat with
// empty handlers. The ratio of the two times is the cost of the tree.
#include <kw/xml/XmlDocument.h>
#include <kw/xml/XmlReader.h>

#include "BenchHelpers.h"

#include <benchmark/benchmark.h>

#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// An update script: a version check and directories with modify, add and
// mkdir entries, indented like a real one.
const std::string& Script()
{
    static const std::string script = [] {
        const std::string digest(64, 'a');
        std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update from=\"1.0\" to=\"1.1\">\n";
        s += "  <version_check>\n";
        for (int i = 0; i < 100; ++i)
            s += "    <digest file=\"bin/module" + std::to_string(i) + ".dll\">\n      " + digest + "\n    </digest>\n";
        s += "  </version_check>\n";
        for (int d = 0; s.size() < 5 * 1024 * 1024; ++d) {
            s += "  <dir path=\"data/dir" + std::to_string(d) + "\">\n";
            for (int f = 0; f < 50; ++f) {
                const std::string name = "file" + std::to_string(f) + "_\xE8\xA1\xA8.dat";
                s += "    <modify name=\"" + name + "\" digest=\"" + digest + "\"/>\n";
                s += "    <add name=\"new_" + name + "\"/>\n";
            }
            s += "    <mkdir name=\"sub" + std::to_string(d) + "\"/>\n  </dir>\n";
        }
        s += "</update>\n";
        return s;
    }();
    return script;
}

// The updater feeds 1024-byte chunks; both variants do the same.
const unsigned int Chunk = 1024;

void BM_XmlReader(benchmark::State& state)
{
    kw_bench::Passes(state, Script(), [](const std::string& script) {
        kw::xml::XmlDocument document;
        kw::xml::XmlReader reader;
        reader.Prepare(document);
        for (std::size_t at = 0; at < script.size(); at += Chunk) {
            const std::size_t n = std::min<std::size_t>(Chunk, script.size() - at);
            reader << kw::xml::XmlBuffer{script.data() + at, static_cast<std::uint32_t>(n)};
        }
        reader.Finish();
        benchmark::DoNotOptimize(document.GetRootElement());
    });
}

void XMLCALL EmptyStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL EmptyEnd(void*, const XML_Char*) {}
void XMLCALL EmptyText(void*, const XML_Char*, int) {}

void BM_BareExpat(benchmark::State& state)
{
    kw_bench::Passes(state, Script(), [&state](const std::string& script) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, EmptyStart, EmptyEnd);
        XML_SetCharacterDataHandler(parser, EmptyText);
        for (std::size_t at = 0; at < script.size(); at += Chunk) {
            const std::size_t n = std::min<std::size_t>(Chunk, script.size() - at);
            if (XML_Parse(parser, script.data() + at, static_cast<int>(n), XML_FALSE) != XML_STATUS_OK)
                state.SkipWithError("expat rejected the script");
        }
        XML_Parse(parser, "\n", 1, XML_TRUE);
        XML_ParserFree(parser);
    });
}

BENCHMARK(BM_XmlReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareExpat)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // CPU time: the machine is shared, wall time is noisy.
    return kw_bench::RatioMain(argc, argv, "BM_XmlReader", "BM_BareExpat", kw_bench::Clock::Cpu, [](double ratio) {
        std::printf("script %.2f MB: XmlReader / bare expat = %.2f\n", Script().size() / 1048576.0, ratio);
    });
}
