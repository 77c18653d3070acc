#include "ReaderRuns.h"

#include "TestSupport.h"

#include <kw/bz2/KWParallelDecompress.h>

#include <boost/exception/diagnostic_information.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <typeinfo>

namespace kw_bz2_test {

namespace {

struct SourceFailure : std::runtime_error {
    SourceFailure() : std::runtime_error("the source cannot read") {}
};
struct CallerStop : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

ReaderRun RunReader(const std::string& stream, unsigned workers, const ReaderOptions& options)
{
    ReaderRun run;
    std::size_t position = 0;
    unsigned sourceCalls = 0;
    const kw::bz2::Bz2Source source = [&](void* buffer, unsigned count) -> unsigned {
        if (options.shortReads && ++sourceCalls % 3 == 0) count = count / 2 + 1;
        std::size_t n = std::min<std::size_t>(count, stream.size() - position);
        if (options.sourceFailsAt >= 0) {
            const std::size_t failAt = static_cast<std::size_t>(options.sourceFailsAt);
            if (position >= failAt) throw SourceFailure();
            n = std::min(n, failAt - position);
        }
        std::memcpy(buffer, stream.data() + position, n);
        position += n;
        return static_cast<unsigned>(n);
    };
    const kw::bz2::Bz2Rewind rewind = [&] {
        position = 0;
        sourceCalls = 0;
        ++run.rewinds;
    };
    const kw::bz2::Bz2HeadCheck headCheck = [&](const void* bytes, unsigned count) {
        run.log += "head " + testsupport::HexText(static_cast<const unsigned char*>(bytes), count) + " at " +
                   std::to_string(run.bytes.size()) + "\n";
        if (options.headCheckThrows) throw CallerStop("head refused");
    };
    const kw::bz2::Bz2ReadHook hook = [&](std::uint64_t read) {
        ++run.hooks;
        run.log += "hook " + std::to_string(read) + " at " + std::to_string(run.bytes.size()) + "\n";
        if (run.hooks == options.hookThrowsOn) throw CallerStop("hook stops");
    };
    const std::uint64_t length =
        options.length < 0 ? stream.size() : static_cast<std::uint64_t>(options.length);
    try {
        kw::bz2::KWParallelDecompress reader(source, rewind, length, options.inputPiece, options.outputPiece,
                                             headCheck, options.headSize, hook, workers);
        std::vector<char> buffer;
        for (std::size_t i = 0; run.bytes.size() < options.stopAfter; ++i) {
            const unsigned want = options.reads[i % options.reads.size()];
            buffer.resize(std::max(want, 1u));
            const unsigned got = reader.Read(buffer.data(), want);
            if (got > want) throw std::logic_error("Read returned more than asked for");
            if (got == 0 && want != 0) break;
            run.bytes.append(buffer.data(), got);
        }
    } catch (const std::exception& e) {
        // Class, text and where it was raised.
        run.log += std::string("error ") + typeid(e).name() + " " + boost::diagnostic_information(e) + " at " +
                   std::to_string(run.bytes.size()) + "\n";
    }
    return run;
}

ReaderRun ExpectSameAsSequential(const std::string& stream, unsigned workers, const ReaderOptions& options,
                            const std::string& label)
{
    const ReaderRun reference = RunReader(stream, 0, options);
    const ReaderRun parallel = RunReader(stream, workers, options);
    EXPECT_TRUE(reference.bytes == parallel.bytes)
        << label << ": bytes differ, " << reference.bytes.size() << " vs " << parallel.bytes.size();
    EXPECT_EQ(reference.log, parallel.log) << label;
    return parallel;
}

} // namespace kw_bz2_test
