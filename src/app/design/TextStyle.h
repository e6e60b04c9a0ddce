#pragma once

#include <QFont>
#include <QString>

// One way of setting text: a face, a weight, a size in device-independent pixels, letter tracking and
// whether it shows in capitals. Screens take their text from the table below, never from fonts of
// their own, so a face or a size changes in one place.
struct TextStyle {
    // A family asked for through `Vosk::varied`, or, with weight 0, a font name such as "Inter-Medium".
    const char* face;
    int weight;
    double size;
    double tracking = 0;
    bool upperCase = false;

    QFont font() const;
    // The text as this style shows it; the caller's text stays as it is.
    QString display(const QString& text) const;
    // The same style at another size (shrinking a figure to fit).
    TextStyle scaled(double factor) const;
};

namespace TextStyles {

// Inter, by font name.
inline constexpr TextStyle caption{"Inter-Regular", 0, 12};       // captions, units, resting chips
inline constexpr TextStyle note{"Inter-Regular", 0, 11.5};        // explanations under a control
inline constexpr TextStyle body{"Inter-Regular", 0, 13};          // sidebar entries
inline constexpr TextStyle label{"Inter-Medium", 0, 12};          // buttons, status lines, notices
inline constexpr TextStyle labelSmall{"Inter-Medium", 0, 11};     // compact update row
inline constexpr TextStyle warning{"Inter-Medium", 0, 11.5};      // one-line warnings
inline constexpr TextStyle rowTitle{"Inter-Medium", 0, 13};       // the name in a list row
inline constexpr TextStyle emptyTitle{"Inter-Medium", 0, 14};     // title of an empty list
inline constexpr TextStyle bodySelected{"Inter-SemiBold", 0, 13}; // chosen sidebar entry

// Space Grotesk, weight 600.
inline constexpr TextStyle sheetTitle{"Space Grotesk", 600, 15};
inline constexpr TextStyle cardTitle{"Space Grotesk", 600, 16};
inline constexpr TextStyle containerTitle{"Space Grotesk", 600, 15}; // a container's card
inline constexpr TextStyle pageTitle{"Space Grotesk", 600, 22};
inline constexpr TextStyle vitalValue{"Space Grotesk", 600, 24};

// JetBrains Mono: figures, paths, command text.
inline constexpr TextStyle ringCount{"JetBrains Mono", 400, 9};
inline constexpr TextStyle groupCount{"JetBrains Mono", 400, 9.5}; // counts beside group headers
inline constexpr TextStyle count{"JetBrains Mono", 400, 10};
inline constexpr TextStyle monoNote{"JetBrains Mono", 400, 10.5};
inline constexpr TextStyle mono{"JetBrains Mono", 400, 11};       // detail lines, pills, banners
inline constexpr TextStyle monoStrong{"JetBrains Mono", 500, 11}; // a version that has an update
inline constexpr TextStyle transcript{"JetBrains Mono", 400, 11.5};
inline constexpr TextStyle listItem{"JetBrains Mono", 400, 11.5}; // a name in a plain list
inline constexpr TextStyle monoField{"JetBrains Mono", 400, 12};  // pickers, forms, absent figures
inline constexpr TextStyle figure{"JetBrains Mono", 500, 12};     // a present figure in a strip

// JetBrains Mono medium in capitals: labels.
inline constexpr TextStyle badge{"JetBrains Mono", 500, 9.5, 1.1, true};
inline constexpr TextStyle statLabel{"JetBrains Mono", 500, 9.5, 1.0, true};
inline constexpr TextStyle groupLabel{"JetBrains Mono", 500, 9.5, 1.4, true}; // group headers, kinds
inline constexpr TextStyle vitalTitle{"JetBrains Mono", 500, 10, 1.2, true};
inline constexpr TextStyle eyebrow{"JetBrains Mono", 500, 10.5, 1.4, true};
inline constexpr TextStyle sectionLabel{"JetBrains Mono", 500, 11, 1.8, true}; // sidebar, settings

} // namespace TextStyles
