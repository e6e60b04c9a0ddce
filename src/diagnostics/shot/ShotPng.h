#pragma once

#include <QByteArray>

#include <optional>

class QImage;

// PNG data of an opaque picture, made for speed: the screenshots are large flat areas, where trying
// every row filter and compressing hard (what a general writer does) costs several times as long for
// files hardly smaller.
namespace ShotPng {

// None when the image is null or cannot be encoded. Any alpha channel is dropped.
std::optional<QByteArray> encode(const QImage& image);

} // namespace ShotPng
