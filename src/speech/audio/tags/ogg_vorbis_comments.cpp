#include "ogg_vorbis_comments.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kestrova::speech {
namespace {

constexpr std::size_t pageHeaderBytes = 27;
constexpr std::size_t serialNumberAt = 14;
constexpr std::size_t checksumAt = 22;

std::uint32_t readLittle32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void writeLittle32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i, value >>= 8)
        bytes[at + i] = static_cast<char>(value & 0xFF);
}

// Ogg's page checksum: CRC-32, polynomial 0x04C11DB7, unreflected, starting at 0.
std::uint32_t oggChecksum(std::string_view page) {
    std::uint32_t crc = 0;
    for (const char byte : page) {
        crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(byte)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

} // namespace

std::optional<std::size_t> oggPageLength(std::string_view bytes) {
    if (bytes.size() < pageHeaderBytes || bytes.substr(0, 4) != "OggS")
        return std::nullopt;
    const std::size_t segments = static_cast<unsigned char>(bytes[26]);
    if (bytes.size() < pageHeaderBytes + segments)
        return std::nullopt;
    std::size_t length = pageHeaderBytes + segments;
    for (std::size_t i = 0; i < segments; ++i)
        length += static_cast<unsigned char>(bytes[pageHeaderBytes + i]);
    return bytes.size() < length ? std::nullopt : std::optional(length);
}

void setOggSerialNumber(std::string& page, std::uint32_t serial) {
    writeLittle32(page, serialNumberAt, serial);
    writeLittle32(page, checksumAt, 0);
    writeLittle32(page, checksumAt, oggChecksum(page));
}

namespace {

// The comment header's comments, or none when the packet is not one.
std::optional<std::vector<std::string_view>> commentsOf(std::string_view packet,
                                                        std::string_view& vendor) {
    if (packet.size() < 16 || packet.substr(0, 7) != "\x03vorbis")
        return std::nullopt;
    std::size_t at = 7;
    const std::uint32_t vendorLength = readLittle32(packet, at);
    if (vendorLength > packet.size() - at - 8)
        return std::nullopt;
    vendor = packet.substr(at + 4, vendorLength);
    at += 4 + vendorLength;
    std::uint32_t count = readLittle32(packet, at);
    at += 4;
    std::vector<std::string_view> comments;
    for (; count > 0; --count) {
        if (packet.size() - at < 4 || readLittle32(packet, at) > packet.size() - at - 4)
            return std::nullopt;
        comments.push_back(packet.substr(at + 4, readLittle32(packet, at)));
        at += 4 + comments.back().size();
    }
    return comments;
}

std::string commentPacket(std::string_view vendor, const std::vector<std::string_view>& comments) {
    std::string packet = "\x03vorbis";
    const auto addCounted = [&packet](std::string_view text) {
        packet.append(4, '\0');
        writeLittle32(packet, packet.size() - 4, static_cast<std::uint32_t>(text.size()));
        packet += text;
    };
    addCounted(vendor);
    packet.append(4, '\0');
    writeLittle32(packet, packet.size() - 4, static_cast<std::uint32_t>(comments.size()));
    for (const std::string_view comment : comments)
        addCounted(comment);
    return packet + '\x01'; // the framing bit
}

} // namespace

std::optional<std::size_t> oggHeadLength(std::string_view bytes) {
    const std::optional<std::size_t> first = oggPageLength(bytes);
    if (!first)
        return std::nullopt;
    const std::optional<std::size_t> second = oggPageLength(bytes.substr(*first));
    return second ? std::optional(*first + *second) : std::nullopt;
}

std::string withoutOggComment(std::string_view head, std::string_view comment) {
    const std::size_t firstLength = oggPageLength(head).value_or(head.size());
    const std::string_view page = head.substr(firstLength);
    const std::size_t segments = static_cast<unsigned char>(page[26]);
    const std::string_view lacing = page.substr(pageHeaderBytes, segments);
    // The comment header is the page's first packet: it ends at the first lacing value below
    // 255, which must be on this page.
    std::size_t packetSegments = 0;
    std::size_t packetLength = 0;
    while (packetSegments < segments && static_cast<unsigned char>(lacing[packetSegments]) == 255)
        packetLength += 255, ++packetSegments;
    if (packetSegments == segments)
        return std::string(head);
    packetLength += static_cast<unsigned char>(lacing[packetSegments++]);
    const std::string_view body = page.substr(pageHeaderBytes + segments);
    std::string_view vendor;
    std::optional<std::vector<std::string_view>> comments =
        commentsOf(body.substr(0, packetLength), vendor);
    if (!comments || std::erase(*comments, comment) == 0)
        return std::string(head);

    const std::string packet = commentPacket(vendor, *comments);
    std::string newLacing(packet.size() / 255, static_cast<char>(255));
    newLacing += static_cast<char>(packet.size() % 255);
    newLacing += lacing.substr(packetSegments);
    std::string rewritten(page.substr(0, pageHeaderBytes));
    rewritten[26] = static_cast<char>(newLacing.size());
    rewritten += newLacing;
    rewritten += packet;
    rewritten += body.substr(packetLength);
    writeLittle32(rewritten, checksumAt, 0);
    writeLittle32(rewritten, checksumAt, oggChecksum(rewritten));
    return std::string(head.substr(0, firstLength)) + rewritten;
}

} // namespace kestrova::speech
