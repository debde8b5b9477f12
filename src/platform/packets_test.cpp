#include "platform/packets.h"

#include <cstring>
#include <tuple>

#include <gtest/gtest.h>

namespace sky {
namespace {

PacketFile sample_file() {
    PacketFile file;
    PacketMesh quad;
    quad.name = "quad";
    quad.positions = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0.5f};
    quad.normals = {0, 0, 1, 0, 0, 1, 0, 0.6f, 0.8f, 0, 0, -1};
    quad.st = {0, 0, 1, 0, 1, 1, 0, 1};
    quad.sizes = {4};
    quad.indices = {0, 1, 2, 3};
    PacketMesh fan;
    fan.name = "fan with a long name: 1";
    fan.positions = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, -1, 1, 0};
    fan.sizes = {3, 3, 3};
    fan.indices = {0, 1, 2, 0, 2, 3, 0, 3, 4};
    file.meshes = {quad, fan};
    PacketImage label;
    label.name = "label.png";
    label.width = 3;
    label.height = 2;
    label.channels = 4;
    for (int i = 0; i < 24; ++i) label.data.push_back(static_cast<std::uint8_t>(i * 11));
    PacketImage grey = label;
    grey.name = "grey";
    grey.channels = 1;
    grey.data.resize(6);
    file.images = {label, grey};
    PacketImage probe;
    probe.name = "sky";
    probe.width = 2;
    probe.height = 1;
    probe.channels = 3;
    probe.type = PACKET_FLOATS;
    const float values[6] = {0.5f, 1.5f, 1e6f, -0.0f, 3.25f, 0.125f};
    probe.data.resize(sizeof values);
    std::memcpy(probe.data.data(), values, sizeof values);
    file.lighting = {probe};
    PacketChannel bounce;
    bounce.name = "height";
    bounce.mode = 2048 | 4;
    bounce.tangents = 18;
    bounce.scale = 0.5f;
    bounce.offset = -2;
    bounce.keys = {{0, 1.0 / 3.0, -1, 0, 1, 0}, {4.5f, -2e10, -0.5f, 0.25f, 2, 1}};
    file.channels = {bounce};
    return file;
}

void expect_same(const PacketImage& a, const PacketImage& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.data, b.data);
}

TEST(Packets, EverySectionReadsBackAsItWasWrittenAndTheTextAfterItIsLeft) {
    const PacketFile file = sample_file();
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(write_packets(file, bytes, error)) << error;
    const std::size_t packet_size = bytes.size();
    const std::string text = "DEFINITION MODEL\n";
    bytes.insert(bytes.end(), text.begin(), text.end());

    PacketFile back;
    std::size_t used = 0;
    ASSERT_TRUE(parse_packets(bytes.data(), bytes.size(), back, error, &used)) << error;
    EXPECT_EQ(used, packet_size);
    ASSERT_EQ(back.meshes.size(), 2u);
    for (int m = 0; m < 2; ++m) {
        const PacketMesh &a = file.meshes[m], &b = back.meshes[m];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.positions, b.positions);
        EXPECT_EQ(a.normals, b.normals);
        EXPECT_EQ(a.st, b.st);
        EXPECT_EQ(a.sizes, b.sizes);
        EXPECT_EQ(a.indices, b.indices);
    }
    ASSERT_EQ(back.images.size(), 2u);
    expect_same(file.images[0], back.images[0]);
    expect_same(file.images[1], back.images[1]);
    ASSERT_EQ(back.lighting.size(), 1u);
    expect_same(file.lighting[0], back.lighting[0]);
    ASSERT_EQ(back.channels.size(), 1u);
    const PacketChannel &a = file.channels[0], &b = back.channels[0];
    EXPECT_EQ(std::tie(a.name, a.mode, a.tangents, a.scale, a.offset),
              std::tie(b.name, b.mode, b.tangents, b.scale, b.offset));
    ASSERT_EQ(b.keys.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        const PacketKey &x = a.keys[k], &y = b.keys[k];
        EXPECT_EQ(std::tie(x.time, x.value, x.in_x, x.in_y, x.out_x, x.out_y),
                  std::tie(y.time, y.value, y.in_x, y.in_y, y.out_x, y.out_y));
    }
}

TEST(Packets, TheWireIsLittleEndianWithTaggedLengthCheckedSections) {
    PacketFile file;
    PacketMesh tri;
    tri.name = "t";
    tri.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    tri.sizes = {3};
    tri.indices = {0, 1, 2};
    file.meshes = {tri};
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(write_packets(file, bytes, error));
    // magic, version 1, "MESH", 64-bit length, ..., "END ", 0.
    const std::uint8_t head[] = {0xAB, 0xB2, 0xD8, 0xF9, 1,  0, 0, 0,
                                 'M',  'E',  'S',  'H',  73, 0, 0, 0};
    ASSERT_GE(bytes.size(), sizeof head + 12);
    EXPECT_EQ(0, std::memcmp(bytes.data(), head, sizeof head));
    const std::uint8_t tail[] = {'E', 'N', 'D', ' ', 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes.data() + bytes.size() - 12, tail, 12));
    EXPECT_EQ(bytes.size(), 8 + 12 + 73 + 12u);
    // 1.0f at the second vertex's x.
    const std::uint8_t one[] = {0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(0, std::memcmp(bytes.data() + 20 + 4 + 1 + 8 + 12, one, 4));
}

TEST(Packets, EveryCutOfAFileFailsWithAReasonAndNoCut) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(write_packets(sample_file(), bytes, error));
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        PacketFile back;
        error.clear();
        EXPECT_FALSE(parse_packets(bytes.data(), size, back, error)) << size;
        EXPECT_FALSE(error.empty()) << size;
    }
}

TEST(Packets, CorruptedCountsAndLengthsAreRefusedNotFollowed) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(write_packets(sample_file(), bytes, error));
    // Every single byte turned to 0xFF either still reads or fails with a
    // reason; the corrupt length or count is never trusted for memory.
    int refused = 0;
    for (std::size_t at = 4; at < bytes.size(); ++at) {
        std::vector<std::uint8_t> bad = bytes;
        bad[at] = 0xFF;
        PacketFile back;
        error.clear();
        if (!parse_packets(bad.data(), bad.size(), back, error)) {
            EXPECT_FALSE(error.empty());
            ++refused;
        }
    }
    EXPECT_GT(refused, 100);
}

TEST(Packets, WritersGetTheReadersChecks) {
    PacketFile file;
    PacketMesh bad;
    bad.name = "bad";
    bad.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    bad.sizes = {3};
    bad.indices = {0, 1, 3};
    file.meshes = {bad};
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(write_packets(file, bytes, error));
    EXPECT_EQ(error, "mesh \"bad\": polygon 0 refers to vertex 3 of 3");

    bad.indices = {0, 1, 2};
    bad.normals = {0, 0, 1};
    file.meshes = {bad};
    EXPECT_FALSE(write_packets(file, bytes, error));
    EXPECT_EQ(error, "mesh \"bad\": the normals are not one per vertex");

    bad.normals.clear();
    bad.positions[4] = std::numeric_limits<float>::quiet_NaN();
    file.meshes = {bad};
    EXPECT_FALSE(write_packets(file, bytes, error));
    EXPECT_EQ(error, "mesh \"bad\": a vertex is not a finite number");

    PacketChannel channel;
    channel.name = "c";
    channel.keys = {{}};
    channel.mode = 0x40;
    EXPECT_FALSE(check_packet_channel(channel, error));
    EXPECT_EQ(error, "channel \"c\": unknown out-of-range mode 64");
    channel.mode = 0;
    channel.keys.clear();
    EXPECT_FALSE(check_packet_channel(channel, error));
    EXPECT_EQ(error, "channel \"c\": no keys");

    PacketImage image;
    image.name = "i";
    image.width = 70000;
    image.height = 1;
    image.channels = 3;
    EXPECT_FALSE(check_packet_image(image, error));
    EXPECT_EQ(error, "image \"i\": bad size 70000 by 1");
}

}  // namespace
}  // namespace sky
