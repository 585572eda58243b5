#pragma once
#include <QSize>
#include <QtGlobal>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace snapmend {

class DecodeGrant;

// The memory all picture decoders may hold at once. A decode first obtains a
// grant for what its picture's header says it will need; grants that do not
// fit wait until others are released, and a request larger than the whole
// budget is refused at once, so a picture declaring gigapixels never starts.
class DecodeBudget {
public:
    // All decoders of the window together: thumbnails, camera previews, the preview window.
    static constexpr quint64 kSharedBytes = 256ULL << 20;

    explicit DecodeBudget(quint64 capacity) : m_capacity(capacity) {}
    DecodeBudget(const DecodeBudget&) = delete;
    DecodeBudget& operator=(const DecodeBudget&) = delete;

    // The budget every decoder in the program shares.
    static DecodeBudget& Shared();

    // Waits until `bytes` are free and holds them until the grant is dropped;
    // a refused (empty) grant when `bytes` exceed the capacity. A thread must
    // not ask while it holds another grant of the same budget.
    DecodeGrant Acquire(quint64 bytes);
    quint64 Capacity() const { return m_capacity; }
    quint64 InUse() const;

private:
    friend class DecodeGrant;
    void Release(quint64 bytes);

    const quint64 m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    quint64 m_inUse = 0;
};

// Bytes held from a budget; released when dropped.
class DecodeGrant {
public:
    DecodeGrant() = default;
    ~DecodeGrant();
    DecodeGrant(DecodeGrant&& other) noexcept;
    DecodeGrant& operator=(DecodeGrant&& other) noexcept;
    DecodeGrant(const DecodeGrant&) = delete;
    DecodeGrant& operator=(const DecodeGrant&) = delete;

    bool Granted() const { return m_budget != nullptr; }
    quint64 Bytes() const { return m_bytes; }

private:
    friend class DecodeBudget;
    DecodeGrant(DecodeBudget* budget, quint64 bytes) : m_budget(budget), m_bytes(bytes) {}
    void Reset();

    DecodeBudget* m_budget = nullptr;
    quint64 m_bytes = 0;
};

// What a picture's header declares, as far as decoding costs go.
struct DeclaredPicture {
    enum class Kind { Jpeg, Gif, Other };
    Kind kind = Kind::Other;
    QSize size;               // pixels, as stored
    int components = 4;           // a JPEG's colour components
    quint64 coefficientBytes = 0; // a progressive JPEG's DCT coefficients, all kept until the last scan
};

// The memory a decode of `picture` needs at its peak, estimated from above,
// when the decoder hands out `output` pixels (a JPEG decoder scales in the
// DCT; the others build the full picture and scale it afterwards). A
// progressive JPEG's coefficients count whatever the output's size; a GIF
// decoder keeps its canvas beside the frame.
// Nothing when a size is unknown or absurd (2^50 pixels and beyond).
std::optional<quint64> DecodeCostBytes(const DeclaredPicture& picture, const QSize& output);

}  // namespace snapmend
