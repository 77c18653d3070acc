// Makes the fuzzers' seed corpora with the project's own writers: the
// producer (archive stream writer, update script writer, package builder),
// the test stream builder, XmlWriter and KWCompress. Each seed is a small,
// valid input, so the fuzzers start from the deep paths.
//
// Usage: fuzz_make_seeds <fuzz_key.pem> <build dir>; writes <build dir>/seeds/<fuzzer>/
// and creates the (empty) work corpora <build dir>/corpus/<fuzzer>/.
#include "Bz2Bytes.h"
#include "FuzzKey.h"

#include "ArchiveStreamBuilder.h"
#include "ArchiveWriter.h"
#include "PackageBuilder.h"
#include "PackageFormat.h"
#include <kw/archive/ArchiveFormat.h>
#include "RsaKey.h"
#include "ScriptWriter.h"
#include "SourceTree.h"
#include "TreeCompare.h"

#include <kw/xml/XmlWriter.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <exception>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using namespace kw::updater;
using kwfuzz::Compress;

namespace {

fs::path g_out;

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    fs::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush())
        throw std::runtime_error("cannot write " + path.string());
}

// Every fuzzer has seeds; its first one also makes its (empty) work corpus.
void Seed(const std::string& fuzzer, const std::string& name, const std::string& bytes)
{
    fs::create_directories(g_out / "corpus" / fuzzer);
    WriteFile(g_out / "seeds" / fuzzer / name, bytes);
}

// Two versions of a small installation, with a Japanese-named directory and
// a file that spans several 512-byte blocks.
void MakeTrees(const fs::path& work)
{
    fs::remove_all(work);
    const std::string japanese = "\xe8\xb3\x87\xe6\x96\x99"; // two kanji
    for (const char* version : {"old", "new"}) {
        const fs::path top = work / version;
        WriteFile(top / "readme.txt", std::string("Product ") + version + "\n");
        WriteFile(top / "doc" / "licence.txt", "licence, the same in both\n");
        WriteFile(top / "bin" / "engine.dll", std::string(1300, version[0]));
    }
    WriteFile(work / "new" / "bin" / "plugins" / "export.dll", "plugin\n");
    WriteFile(work / "new" / japanese / "note.txt", "note\n");
    fs::create_directories(work / "new" / "empty");
}

std::string ProducerArchiveStream(const fs::path& tree)
{
    Env& env = Env::Default();
    std::string out;
    WriteArchiveStream(env, tree, kwpack::ScanTree(env, tree), MakeHeader(kInnerMagic, kNewestVersionText),
                       [&](const unsigned char* p, std::size_t n) { out.append(reinterpret_cast<const char*>(p), n); });
    return out;
}

std::string UpdateScript(const fs::path& work)
{
    Env& env = Env::Default();
    const kwpack::TreeEntry old_root = kwpack::ScanTree(env, work / "old", kwpack::ScanFor::Comparison);
    const kwpack::TreeEntry new_root = kwpack::ScanTree(env, work / "new");
    const kwpack::TreeChanges changes = kwpack::CompareTrees(env, work / "old", old_root, work / "new", new_root);
    const std::vector<kwpack::VersionCheck> checks = {
        {"readme.txt", kwpack::FileDigest(env, work / "old" / "readme.txt")}};
    std::ostringstream script;
    kwpack::WriteScriptXml("1.0", "1.1", checks, changes, script);
    return script.str();
}

// A document with what the reader handles beyond plain elements: integer
// forms, escaped characters, mixed content and white space to optimize.
std::string XmlWriterDocument()
{
    std::string text;
    const kw::xml::XmlWriter::Sink sink = [&](const void* data, unsigned size) {
        text.append(static_cast<const char*>(data), size);
        return size;
    };
    kw::xml::XmlWriter writer("  ");
    writer.Write(sink, "update", [&](kw::xml::XmlWriter& w) {
        kw::xml::XmlAttributes numbers;
        numbers.AddAttribute("dec", 42);
        numbers.AddAttribute("hex", "0x1F");
        numbers.AddAttribute("oct", "017");
        numbers.AddAttribute("neg", "-7");
        kw::xml::XmlAttributes name;
        name.AddAttribute("name", "a<b&\"c\"");
        return w.WriteTag(sink, "numbers", numbers, "  one\n   two  \n") +
               w.WriteTag(sink, [&](kw::xml::XmlWriter& inner) { return inner.WriteText(sink, "x & y"); }, "text",
                          name);
    });
    return text;
}

std::string BuilderStream(const std::string& prologue, kwtest::Order order)
{
    using kwtest::TreeSpec;
    TreeSpec top = TreeSpec::Dir(0x01d9000000000000ull, 0x01d9000000000001ull);
    top.Add("a.txt", TreeSpec::FileOf("alpha"))
        .Add("sub", TreeSpec::Dir().Add("b.bin", TreeSpec::FileOf(std::string(600, '\x5c'))).Add("c", TreeSpec::Dir()))
        .Add("\x95\x5c", TreeSpec::FileOf("")); // CP932 double byte whose trail byte is 0x5C
    return kwtest::Serialize(top, order, prologue);
}

// Entities nested 3,000 deep, enough to overflow a 1 MiB stack inside expat
// when expanded; the reader must stop at the first declaration.
std::string EntityChain()
{
    std::string xml = "<!DOCTYPE r [<!ENTITY e0 \"x\">";
    const int depth = 3000;
    for (int i = 1; i <= depth; ++i) xml += "<!ENTITY e" + std::to_string(i) + " \"&e" + std::to_string(i - 1) + ";\">";
    return xml + "]><r>&e" + std::to_string(depth) + ";</r>";
}

void CheckKey(const fs::path& pem)
{
    const std::vector<unsigned char> modulus = kwpack::RsaPrivateKey::Load(Env::Default(), pem).ModulusLittleEndian();
    if (modulus != std::vector<unsigned char>(std::begin(kwfuzz::kFuzzModulus), std::end(kwfuzz::kFuzzModulus)))
        throw std::runtime_error("fuzz_key.pem does not match the modulus in FuzzKey.h");
}

void MakeSeeds(const fs::path& pem)
{
    CheckKey(pem);
    const fs::path work = g_out / "seed-trees";
    MakeTrees(work);

    const std::string producer_stream = ProducerArchiveStream(work / "new");
    const std::string depth_first = BuilderStream("KWUP0111", kwtest::Order::DepthFirst);
    const std::string breadth_first = BuilderStream("KWUP0100", kwtest::Order::BreadthFirst);
    Seed("fuzz_archive_loader", "producer", producer_stream);
    Seed("fuzz_archive_loader", "depth-first", depth_first);
    Seed("fuzz_archive_loader", "breadth-first", breadth_first);
    Seed("fuzz_archive_loader", "empty-top", kwtest::Serialize(kwtest::TreeSpec::Dir(), kwtest::Order::DepthFirst));

    Seed("fuzz_xml_reader", "update-script", UpdateScript(work));
    Seed("fuzz_xml_reader", "writer", XmlWriterDocument());
    Seed("fuzz_xml_reader", "entity-chain", EntityChain());

    Seed("fuzz_decompress", "stream", Compress(producer_stream, 1));
    Seed("fuzz_decompress", "text", Compress(std::string(3000, 'a') + "tail", 9));
    Seed("fuzz_decompress", "empty", Compress("", 1));

    // Four bytes of piece sizes and head size, then the stream.
    Seed("fuzz_parallel_decompress", "stream", std::string("\x01\x00\x40\x08", 4) + Compress(producer_stream, 1));
    Seed("fuzz_parallel_decompress", "small-pieces", std::string("\x00\x07\x03\x02", 4) +
                                                         Compress(std::string(250000, 'b') + producer_stream, 1));

    Seed("fuzz_expansion", "producer", Compress(producer_stream, 1));
    Seed("fuzz_expansion", "depth-first", Compress(depth_first, 1));
    Seed("fuzz_expansion", "breadth-first", Compress(breadth_first, 1));

    kwpack::BuildOptions build;
    build.source = work / "new";
    build.package = work / "update.kwp";
    build.key = pem;
    build.force = true;
    kwpack::BuildPackage(Env::Default(), build);
    fs::ifstream package(build.package, std::ios::binary);
    Seed("fuzz_package_header", "package", std::string(std::istreambuf_iterator<char>(package), {}));
    Seed("fuzz_package_header", "header-only", MakeHeader(kPackageMagic, kNewestVersionText));
    fs::remove_all(work);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: fuzz_make_seeds <fuzz_key.pem> <build dir>\n";
        return 2;
    }
    g_out = argv[2];
    try {
        MakeSeeds(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "fuzz_make_seeds: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
