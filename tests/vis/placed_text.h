// Texts placed on the screen, and the check that they keep inside an area and
// apart from one another.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vis/text_layout.h"

struct Placed {
    std::string text;
    TextBox box;
};

// Two texts touch, or stand less than 2 pixels apart on a line (they would read as one).
inline bool Crowded(const TextBox& a, const TextBox& b) {
    return BoxesOverlap({a.x0 - 1.0f, a.y0, a.x1 + 1.0f, a.y1}, {b.x0 - 1.0f, b.y0, b.x1 + 1.0f, b.y1});
}

inline void ExpectApartAndInside(const std::vector<Placed>& texts, const TextBox& area, const std::string& where) {
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_TRUE(BoxInside(texts[i].box, area)) << where << ": \"" << texts[i].text << "\"";
        for (size_t j = i + 1; j < texts.size(); ++j)
            EXPECT_FALSE(Crowded(texts[i].box, texts[j].box))
                << where << ": \"" << texts[i].text << "\" and \"" << texts[j].text << "\"";
    }
}
