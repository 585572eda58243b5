#include "DecodeBudget.h"

namespace snapmend {

DecodeBudget& DecodeBudget::Shared()
{
    static DecodeBudget budget(kSharedBytes);
    return budget;
}

DecodeGrant DecodeBudget::Acquire(quint64 bytes)
{
    if (bytes > m_capacity)
        return {};
    std::unique_lock<std::mutex> lock(m_mutex);
    m_freed.wait(lock, [&] { return m_capacity - m_inUse >= bytes; });
    m_inUse += bytes;
    return DecodeGrant(this, bytes);
}

quint64 DecodeBudget::InUse() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_inUse;
}

void DecodeBudget::Release(quint64 bytes)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_inUse -= bytes;
    }
    m_freed.notify_all();
}

DecodeGrant::~DecodeGrant() { Reset(); }

DecodeGrant::DecodeGrant(DecodeGrant&& other) noexcept : m_budget(other.m_budget), m_bytes(other.m_bytes)
{
    other.m_budget = nullptr;
    other.m_bytes = 0;
}

DecodeGrant& DecodeGrant::operator=(DecodeGrant&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_budget = other.m_budget;
        m_bytes = other.m_bytes;
        other.m_budget = nullptr;
        other.m_bytes = 0;
    }
    return *this;
}

void DecodeGrant::Reset()
{
    if (m_budget)
        m_budget->Release(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}

namespace {

// A pixel count beyond this is refused outright, so that the cost's few
// products and sums below stay far from 2^64.
constexpr quint64 kMaxPixels = 1ULL << 50;

std::optional<quint64> Pixels(const QSize& size)
{
    if (!size.isValid() || size.isEmpty())
        return std::nullopt;
    const quint64 pixels = static_cast<quint64>(size.width()) * static_cast<quint64>(size.height());
    if (pixels > kMaxPixels)
        return std::nullopt;
    return pixels;
}

}  // namespace

std::optional<quint64> DecodeCostBytes(const DeclaredPicture& picture, const QSize& output)
{
    const std::optional<quint64> full = Pixels(picture.size);
    const std::optional<quint64> out = Pixels(output);
    if (!full || !out || picture.components < 1 || picture.components > 4 || picture.coefficientBytes > kMaxPixels)
        return std::nullopt;
    // The decoded image, then one converted copy of it (to RGB for resampling).
    quint64 cost = *out * 4 * 2;
    switch (picture.kind) {
    case DeclaredPicture::Kind::Jpeg: {
        const auto components = static_cast<quint64>(picture.components);
        // Row buffers of a few MCU rows, and for a progressive file every coefficient.
        cost += static_cast<quint64>(picture.size.width()) * components * 64 + picture.coefficientBytes;
        break;
    }
    case DeclaredPicture::Kind::Gif: cost += *full * 4 * 2; break;
    case DeclaredPicture::Kind::Other: cost += *full * 4; break;
    }
    return cost;
}

}  // namespace snapmend
