// The byte reader the parsers share: a part of the input stays inside its
// range and reports offsets in the whole input; strings and seeks are
// bounded.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "simulator/pe/byte_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteReader, PartsStayInsideTheirRangeAndReportWholeInputOffsets) {
    const Bytes bytes = {1, 2, 3, 4, 5, 6, 7, 8, 0, 10};
    sim::Reader whole(bytes, 100);
    sim::Reader part = whole.sub(4, 4, "part");
    EXPECT_EQ(part.u32("word"), 0x08070605u);
    EXPECT_EQ(part.u8("byte"), 0);
    ASSERT_TRUE(part.failed()) << "byte 8 is outside the part";
    EXPECT_EQ(part.error()->offset, 108u);
    EXPECT_FALSE(whole.failed());

    sim::Reader past = whole.sub(8, 3, "tail");
    EXPECT_TRUE(past.failed());
    EXPECT_TRUE(whole.failed());
    EXPECT_EQ(whole.error()->offset, 108u);
    EXPECT_EQ(past.u8("anything"), 0);
}

TEST(ByteReader, StringsAndSeeksAreBounded) {
    const Bytes bytes = {'a', 'b', 'c', 0, 'd', 'e'};
    sim::Reader r(bytes);
    EXPECT_EQ(r.cstring(3, "name"), "abc");
    EXPECT_EQ(r.cstring(3, "name"), "") << "no terminator before the end";
    EXPECT_NE(r.error()->message.find("runs past"), std::string::npos);

    sim::Reader bound(bytes);
    EXPECT_EQ(bound.cstring(2, "name"), "");
    EXPECT_NE(bound.error()->message.find("longer than 2"), std::string::npos);

    sim::Reader wide(bytes);
    EXPECT_EQ(wide.utf16(4, "text"), u"");
    EXPECT_EQ(wide.error()->offset, 0u) << "refused before reading any of it";

    sim::Reader seek(bytes);
    seek.seek(6, "end");
    EXPECT_FALSE(seek.failed());
    seek.seek(7, "past the end");
    EXPECT_TRUE(seek.failed());
}

}  // namespace
