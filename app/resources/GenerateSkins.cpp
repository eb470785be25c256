// Build-time tool: writes the carried skins 01.she to 56.she into the directory it is given.
// Each skin is the magic ".SHE" with a NUL, then a Qt style sheet: fourteen hues in four tones.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

namespace {

constexpr int kHueCount = 14;
constexpr int kToneCount = 4;
constexpr std::string_view kSkinMagic{".SHE\0", 5};

struct Rgb {
    int red, green, blue;
};

// Hue in degrees, saturation and lightness in 0..1.
Rgb FromHsl(double hue, double saturation, double lightness) {
    double chroma = (1 - std::fabs(2 * lightness - 1)) * saturation;
    double sector = std::fmod(hue / 60.0, 6.0);
    double second = chroma * (1 - std::fabs(std::fmod(sector, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(sector)) {
        case 0:
            r = chroma, g = second;
            break;
        case 1:
            r = second, g = chroma;
            break;
        case 2:
            g = chroma, b = second;
            break;
        case 3:
            g = second, b = chroma;
            break;
        case 4:
            r = second, b = chroma;
            break;
        default:
            r = chroma, b = second;
            break;
    }
    double base = lightness - chroma / 2;
    auto channel = [base](double value) {
        return std::clamp(static_cast<int>(std::lround((value + base) * 255)), 0, 255);
    };
    return {channel(r), channel(g), channel(b)};
}

std::string Css(Rgb colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

struct Tone {
    double windowLightness, accentLightness, textLightness, saturation;
};

// Light, fresh, deep and dark variants of one hue.
constexpr Tone kTones[kToneCount] = {{0.95, 0.55, 0.15, 0.55},
                                     {0.90, 0.45, 0.12, 0.70},
                                     {0.82, 0.35, 0.10, 0.60},
                                     {0.20, 0.50, 0.92, 0.45}};

std::string StyleSheet(int number) {
    double hue = (number - 1) % kHueCount * (360.0 / kHueCount);
    const Tone& tone = kTones[(number - 1) / kHueCount];
    bool dark = tone.windowLightness < 0.5;
    std::string window = Css(FromHsl(hue, tone.saturation * 0.4, tone.windowLightness));
    std::string base = Css(FromHsl(hue, tone.saturation * 0.2, dark ? 0.12 : 0.99));
    std::string alternate = Css(FromHsl(hue, tone.saturation * 0.3, dark ? 0.16 : 0.96));
    std::string accent = Css(FromHsl(hue, tone.saturation, tone.accentLightness));
    // Buttons stay in the window's brightness so that their captions read in the text colour.
    std::string buttonTop = Css(FromHsl(hue, tone.saturation, dark ? 0.40 : 0.92));
    std::string buttonBottom = Css(FromHsl(hue, tone.saturation, dark ? 0.28 : 0.76));
    std::string border = Css(FromHsl(hue, tone.saturation * 0.6, dark ? 0.35 : 0.6));
    std::string text = Css(FromHsl(hue, 0.2, tone.textLightness));
    std::string sheet;
    sheet += "/* Velmora skin " + std::to_string(number) + " */\n";
    sheet += "QWidget { background-color: " + window + "; color: " + text + "; }\n";
    sheet += "QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 " +
             buttonTop + ", stop:1 " + buttonBottom + "); color: " + text + "; border: 1px solid " +
             border + "; border-radius: 3px; }\n";
    sheet += "QPushButton:hover { background: " + buttonTop + "; border-color: " + accent + "; }\n";
    sheet += "QPushButton:pressed { background: " + buttonBottom + "; padding-top: 1px; }\n";
    sheet += "QLineEdit { background: " + base + "; border: 1px solid " + border +
             "; border-radius: 2px; padding: 0 2px; }\n";
    sheet += "QTableView { background: " + base + "; alternate-background-color: " + alternate +
             "; gridline-color: " + border + "; selection-background-color: " + accent +
             "; selection-color: #ffffff; border: 1px solid " + border + "; }\n";
    sheet += "QHeaderView::section { background: " + window + "; color: " + text +
             "; border: 0; border-right: 1px solid " + border + "; border-bottom: 1px solid " +
             border + "; padding: 2px 4px; }\n";
    sheet += "QStatusBar { background: " + window + "; }\n";
    sheet += "QMenu { background: " + base + "; border: 1px solid " + border + "; }\n";
    sheet += "QMenu::item { padding: 3px 22px; }\n";
    sheet += "QMenu::item:selected { background: " + accent + "; color: #ffffff; }\n";
    return sheet;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 1;
    }
    for (int number = 1; number <= kHueCount * kToneCount; ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "/%02d.she", number);
        std::ofstream out(std::string(argv[1]) + name, std::ios::binary | std::ios::trunc);
        out << kSkinMagic << StyleSheet(number);
        if (!out.flush()) return 1;
    }
    return 0;
}
