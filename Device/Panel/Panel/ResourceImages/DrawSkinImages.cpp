// Draws the panel's skin images at build time: each sheet once at the default size and once at
// 5/3 of it for the high-DPI skin ("<name>_large.png"). The skin document places its parts on
// these sheets, so a sheet's cells keep the positions the skin gives them: cells are laid out at
// the default size and scaled as a whole.
//
// Usage: DrawSkinImages <output folder>

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct Rgb
{
    double red;
    double green;
    double blue;
};

void SetColor(cairo_t* cr, Rgb color, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, alpha);
}

void RoundedRect(cairo_t* cr, double x, double y, double width, double height, double radius)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + width - radius, y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, M_PI / 2);
    cairo_arc(cr, x + radius, y + height - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// A bevelled cell: a vertical gradient between two shades of the face colour and a thin border.
void Face(cairo_t* cr, double x, double y, double width, double height, Rgb face, Rgb border)
{
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, y, 0, y + height);
    cairo_pattern_add_color_stop_rgb(gradient, 0, face.red * 1.25, face.green * 1.25,
                                     face.blue * 1.25);
    cairo_pattern_add_color_stop_rgb(gradient, 1, face.red * 0.8, face.green * 0.8,
                                     face.blue * 0.8);
    RoundedRect(cr, x + 0.5, y + 0.5, width - 1, height - 1, 3);
    cairo_set_source(cr, gradient);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(gradient);
    SetColor(cr, border);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

const Rgb kNormal{0.27, 0.29, 0.33};
const Rgb kHover{0.33, 0.36, 0.42};
const Rgb kPressed{0.20, 0.40, 0.66};
const Rgb kDisabled{0.22, 0.22, 0.24};
const Rgb kBorder{0.10, 0.11, 0.12};
const Rgb kAccent{0.23, 0.48, 0.78};
const Rgb kLight{0.90, 0.90, 0.92};

void DrawButtons(cairo_t* cr)
{
    const Rgb faces[] = {kNormal, kHover, kPressed, kDisabled};
    for (int cell = 0; cell < 4; ++cell) {
        Face(cr, cell * 24, 0, 24, 22, faces[cell], kBorder);
    }
}

void DrawComboBoxes(cairo_t* cr)
{
    const Rgb faces[] = {kNormal, kHover, kPressed, kDisabled};
    for (int cell = 0; cell < 4; ++cell) {
        const double x = cell * 32;
        Face(cr, x, 0, 32, 22, faces[cell], kBorder);
        // The drop-down arrow sits in the right 16 pixels the text keeps clear of.
        SetColor(cr, cell == 3 ? Rgb{0.5, 0.5, 0.5} : kLight);
        const bool open = cell == 2;
        cairo_move_to(cr, x + 20, open ? 13 : 9);
        cairo_line_to(cr, x + 28, open ? 13 : 9);
        cairo_line_to(cr, x + 24, open ? 9 : 13);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
}

void DrawScrollBar(cairo_t* cr)
{
    // Channel, thumb, hovered thumb, up arrow, down arrow: 12 pixels wide each.
    SetColor(cr, Rgb{0.16, 0.17, 0.19});
    cairo_rectangle(cr, 0, 0, 12, 16);
    cairo_fill(cr);
    Face(cr, 12, 0, 12, 16, kNormal, kBorder);
    Face(cr, 24, 0, 12, 16, kHover, kBorder);
    for (int arrow = 0; arrow < 2; ++arrow) {
        const double x = 36 + arrow * 12;
        Face(cr, x, 0, 12, 12, kNormal, kBorder);
        SetColor(cr, kLight);
        const bool up = arrow == 0;
        cairo_move_to(cr, x + 3, up ? 8 : 4);
        cairo_line_to(cr, x + 9, up ? 8 : 4);
        cairo_line_to(cr, x + 6, up ? 4 : 8);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
}

void DrawSlider(cairo_t* cr)
{
    // Track 100 x 12, then the thumb 12 x 12.
    RoundedRect(cr, 2, 4, 96, 4, 2);
    SetColor(cr, Rgb{0.12, 0.13, 0.14});
    cairo_fill(cr);
    cairo_arc(cr, 106, 6, 5.5, 0, 2 * M_PI);
    SetColor(cr, kAccent);
    cairo_fill_preserve(cr);
    SetColor(cr, kBorder);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void DrawLogo(cairo_t* cr)
{
    // A ring with a tail and three level bars.
    cairo_set_line_width(cr, 5);
    SetColor(cr, kAccent);
    cairo_arc(cr, 20, 20, 13, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_move_to(cr, 26, 27);
    cairo_line_to(cr, 34, 36);
    cairo_stroke(cr);
    SetColor(cr, kLight);
    for (int bar = 0; bar < 3; ++bar) {
        RoundedRect(cr, 46 + bar * 24, 28 - bar * 8, 16, 8 + bar * 8, 2);
        cairo_fill(cr);
    }
}

void DrawProduct(cairo_t* cr)
{
    // The interface seen from the front: a box with two knobs, a meter and two sockets.
    Face(cr, 4, 20, 132, 56, Rgb{0.35, 0.37, 0.40}, kBorder);
    for (int knob = 0; knob < 2; ++knob) {
        cairo_arc(cr, 30 + knob * 34, 48, 11, 0, 2 * M_PI);
        SetColor(cr, Rgb{0.12, 0.12, 0.13});
        cairo_fill(cr);
        SetColor(cr, kLight);
        cairo_set_line_width(cr, 2);
        cairo_move_to(cr, 30 + knob * 34, 48);
        cairo_line_to(cr, 30 + knob * 34 + 7, 41);
        cairo_stroke(cr);
    }
    for (int led = 0; led < 5; ++led) {
        SetColor(cr, led < 3 ? Rgb{0.3, 0.8, 0.3} : Rgb{0.9, 0.7, 0.2});
        cairo_rectangle(cr, 86 + led * 5, 34, 3, 8);
        cairo_fill(cr);
    }
    for (int socket = 0; socket < 2; ++socket) {
        cairo_arc(cr, 92 + socket * 20, 60, 5, 0, 2 * M_PI);
        SetColor(cr, Rgb{0.05, 0.05, 0.05});
        cairo_fill(cr);
    }
}

struct Sheet
{
    const char* name;
    int width;  // pixels at the default size
    int height;
    void (*draw)(cairo_t* cr);
};

const Sheet kSheets[] = {
    {"buttons", 96, 22, DrawButtons},     {"combobox", 128, 22, DrawComboBoxes},
    {"scrollbar", 60, 16, DrawScrollBar}, {"slider", 112, 12, DrawSlider},
    {"logo", 120, 40, DrawLogo},          {"product", 140, 90, DrawProduct},
};

struct Size
{
    const char* suffix;
    double scale;
};

const Size kSizes[] = {{"", 1.0}, {"_large", 5.0 / 3.0}};

bool Write(const std::string& folder, const Sheet& sheet, const Size& size)
{
    const int width = static_cast<int>(std::lround(sheet.width * size.scale));
    const int height = static_cast<int>(std::lround(sheet.height * size.scale));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, size.scale, size.scale);
    sheet.draw(cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    const std::string path = folder + "/" + sheet.name + size.suffix + ".png";
    const cairo_status_t written = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (!drawn || written != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "DrawSkinImages: cannot write %s: %s\n", path.c_str(),
                     cairo_status_to_string(written));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: DrawSkinImages <output folder>\n");
        return 2;
    }
    bool written = true;
    for (const Sheet& sheet : kSheets) {
        for (const Size& size : kSizes) {
            written = Write(argv[1], sheet, size) && written;
        }
    }
    cairo_debug_reset_static_data();
    return written ? 0 : 1;
}
