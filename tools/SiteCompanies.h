#pragma once
// What the sample site's content sources share about its companies: the deterministic dice
// every page rolls and the city and industry a company is drawn from. Only tools/ includes it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::site {

// A small deterministic generator (splitmix64): the same seed gives the same page on every
// platform, which std::mt19937's distributions do not promise.
class Dice {
public:
    explicit Dice(std::uint64_t state) : state_(state) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int bound) { return static_cast<int>(Next() % static_cast<std::uint64_t>(bound)); }
    bool OneIn(int n) { return Below(n) == 0; }
    template <typename T, std::size_t N>
    const T& Pick(const std::array<T, N>& items) {
        return items[static_cast<std::size_t>(Below(static_cast<int>(N)))];
    }
    std::string Digits(int count, char first = 0) {
        std::string digits;
        if (first != 0) {
            digits += first;
            --count;
        }
        for (int i = 0; i < count; ++i) digits += static_cast<char>('0' + Below(10));
        return digits;
    }

private:
    std::uint64_t state_;
};

struct City {
    std::string_view name;
    std::string_view province;  // empty for the cities that are provinces of their own
    std::string_view areaCode;
    std::array<std::string_view, 3> districts;
};

// What a company makes; its name holds one, and the pages' hot searches draw on them too.
inline constexpr std::array<std::string_view, 20> kIndustries{
    "机械", "五金", "电子", "塑料制品", "纺织", "化工", "建材",     "食品",     "包装",   "模具",
    "阀门", "泵业", "轴承", "电气",     "照明", "家具", "环保设备", "汽车配件", "不锈钢", "工贸"};

// The state a company's dice start from.
std::uint64_t CompanyState(std::uint64_t seed, int number);
const City& CityOf(std::uint64_t seed, int number);
// The industry its name was made with.
std::string_view IndustryOf(const std::string& companyName);

}  // namespace velmora::site
