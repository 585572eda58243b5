#include "ThumbnailResample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace snapmend {
namespace {

float SrgbToLinear(float s) { return s <= 0.04045f ? s / 12.92f : std::pow((s + 0.055f) / 1.055f, 2.4f); }

struct SrgbTables {
    std::array<float, 256> toLinear{};
    // The linear value halfway (in sRGB) between code i and i + 1: the
    // nearest code of a linear value is the count of thresholds below it.
    std::array<float, 256> thresholds{};  // the last one above any value
    // The code of the lower end of each of kBuckets equal parts of 0..1: the
    // search starts there and steps at most a code or two.
    static constexpr int kBuckets = 4096;
    std::array<unsigned char, kBuckets + 1> start{};
    SrgbTables()
    {
        for (int i = 0; i < 256; ++i)
            toLinear[static_cast<size_t>(i)] = SrgbToLinear(static_cast<float>(i) / 255.0f);
        for (int i = 0; i < 255; ++i)
            thresholds[static_cast<size_t>(i)] = SrgbToLinear((static_cast<float>(i) + 0.5f) / 255.0f);
        thresholds[255] = 2.0f;
        int code = 0;
        for (int b = 0; b <= kBuckets; ++b) {
            while (thresholds[static_cast<size_t>(code)] <= static_cast<float>(b) / kBuckets)
                ++code;
            start[static_cast<size_t>(b)] = static_cast<unsigned char>(code);
        }
    }
};

const SrgbTables& Tables()
{
    static const SrgbTables tables;
    return tables;
}

unsigned char LinearToSrgb(const SrgbTables& t, float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    size_t code = t.start[static_cast<size_t>(v * SrgbTables::kBuckets)];
    while (t.thresholds[code] <= v)
        ++code;
    return static_cast<unsigned char>(code);
}

float CatmullRom(float x)
{
    x = std::fabs(x);
    if (x < 1.0f)
        return (1.5f * x - 2.5f) * x * x + 1.0f;
    if (x < 2.0f)
        return ((-0.5f * x + 2.5f) * x - 4.0f) * x + 2.0f;
    return 0.0f;
}

// The source samples and weights of every output position along one axis.
struct AxisFilter {
    std::vector<int> first;  // per output: where its taps start in `source` and `weight`
    std::vector<int> count;
    std::vector<int> source;
    std::vector<float> weight;
};

AxisFilter MakeFilter(int srcN, int dstN)
{
    AxisFilter f;
    const float scale = static_cast<float>(dstN) / static_cast<float>(srcN);
    const float stretch = std::min(scale, 1.0f);  // shrinking widens the kernel
    const float support = 2.0f / stretch;
    for (int d = 0; d < dstN; ++d) {
        const float center = (static_cast<float>(d) + 0.5f) / scale;
        const int lo = static_cast<int>(std::floor(center - support));
        const int hi = static_cast<int>(std::ceil(center + support));
        const int start = static_cast<int>(f.weight.size());
        float sum = 0.0f;
        for (int i = lo; i <= hi; ++i) {
            const float w = CatmullRom((static_cast<float>(i) + 0.5f - center) * stretch);
            if (w == 0.0f)
                continue;
            f.source.push_back(std::clamp(i, 0, srcN - 1));
            f.weight.push_back(w);
            sum += w;
        }
        for (size_t k = static_cast<size_t>(start); k < f.weight.size(); ++k)
            f.weight[k] /= sum;
        f.first.push_back(start);
        f.count.push_back(static_cast<int>(f.weight.size()) - start);
    }
    return f;
}

}  // namespace

void ResampleRgbCatmullRom(const unsigned char* src, int srcW, int srcH, int srcStride, unsigned char* dst, int dstW,
                           int dstH, int dstStride)
{
    if (srcW <= 0 || srcH <= 0 || dstW <= 0 || dstH <= 0)
        return;
    const SrgbTables& tables = Tables();
    const auto& toLinear = tables.toLinear;
    const AxisFilter across = MakeFilter(srcW, dstW);
    const AxisFilter down = MakeFilter(srcH, dstH);
    const size_t srcRow = static_cast<size_t>(srcW) * 3;
    const size_t dstRow = static_cast<size_t>(dstW) * 3;

    // Horizontally first, every source row into linear light at the new width.
    std::vector<float> line(srcRow);
    std::vector<float> narrow(static_cast<size_t>(srcH) * dstRow);
    for (int y = 0; y < srcH; ++y) {
        const unsigned char* in = src + static_cast<size_t>(y) * static_cast<size_t>(srcStride);
        for (size_t i = 0; i < srcRow; ++i)
            line[i] = toLinear[in[i]];
        float* out = narrow.data() + static_cast<size_t>(y) * dstRow;
        for (int x = 0; x < dstW; ++x) {
            float r = 0, g = 0, b = 0;
            for (int k = across.first[static_cast<size_t>(x)], end = k + across.count[static_cast<size_t>(x)]; k < end;
                 ++k) {
                const float* p = line.data() + static_cast<size_t>(across.source[static_cast<size_t>(k)]) * 3;
                const float w = across.weight[static_cast<size_t>(k)];
                r += p[0] * w;
                g += p[1] * w;
                b += p[2] * w;
            }
            out[x * 3] = r;
            out[x * 3 + 1] = g;
            out[x * 3 + 2] = b;
        }
    }
    // Then vertically, back to sRGB.
    std::vector<float> sum(dstRow);
    for (int y = 0; y < dstH; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (int k = down.first[static_cast<size_t>(y)], end = k + down.count[static_cast<size_t>(y)]; k < end; ++k) {
            const float* row = narrow.data() + static_cast<size_t>(down.source[static_cast<size_t>(k)]) * dstRow;
            const float w = down.weight[static_cast<size_t>(k)];
            for (size_t i = 0; i < dstRow; ++i)
                sum[i] += row[i] * w;
        }
        unsigned char* out = dst + static_cast<size_t>(y) * static_cast<size_t>(dstStride);
        for (size_t i = 0; i < dstRow; ++i)
            out[i] = LinearToSrgb(tables, sum[i]);
    }
}

}  // namespace snapmend
