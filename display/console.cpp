// Text console overlay: the character grid, printf-style printing with wrapping and
// scrolling, and drawing one textured quad per character with the built-in font on unit 0.
// Entry points: consoleInit, consolePrintf, consoleClear, consoleSetColour, consoleDraw,
// consoleFree. Saves the whole render state around its drawing; owns the grid, not the font.
#include "display/console.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/device.h"
#include "display/display.h"


namespace {

// Glyph cells in the rasterizer's texture units: 256 across the font's 128 texels.
constexpr int GLYPH_S_STEP = 2 * FONT_CELL_WIDTH;    // 18
constexpr int GLYPH_T_STEP = 2 * FONT_CELL_HEIGHT;   // 24
constexpr int FONT_LARGE_LOD = 7;                    // 128 on the long side
constexpr int FONT_ASPECT = 1;                       // twice as wide as high

// The first nine fields of the program's vertex record, as the console hands them over.
struct ConsoleVertex {
    float x, y, w, q;
    float s0, t0, s1, t1;
    std::uint32_t colour;
};
static_assert(sizeof(ConsoleVertex) == 36, "the console draws with a 36-byte stride");

TextureCache* fontCache() { return display.device.textureCaches[0]; }

void describeFont(Texture& font) {
    bool placed = font.slot[0].resident || font.slot[1].resident;
    if (!placed) {
        // The font is the same texture for the whole run: a memory that refused it once
        // (reported then) is not reported again at every resolution switch.
        const int refused[TEXTURE_UNITS_MAX] = {font.slot[0].refused, font.slot[1].refused};
        textureInit(font);
        for (int unit = 0; unit < TEXTURE_UNITS_MAX; ++unit) font.slot[unit].refused = refused[unit];
    }
    font.name = "console font";
    font.info.smallLod = FONT_LARGE_LOD;
    font.info.largeLod = FONT_LARGE_LOD;
    font.info.aspect = FONT_ASPECT;
    font.info.format = VX_TEXFMT_ALPHA_8;
    // The bitmap belongs to the program; the texture only points at it.
    font.info.data = const_cast<std::uint8_t*>(fontBitmap);
}

void buildGlyphTable(ConsoleState& console) {
    std::memset(console.glyph, 0, sizeof console.glyph);
    for (int k = 0; CONSOLE_CHARACTER_SET[k] != '\0'; ++k) {
        int code = static_cast<unsigned char>(CONSOLE_CHARACTER_SET[k]);
        if (code <= 0 || code >= CONSOLE_GLYPHS) continue;
        console.glyph[code][0] = static_cast<std::uint8_t>((k % FONT_CELLS_PER_ROW) * GLYPH_S_STEP);
        console.glyph[code][1] = static_cast<std::uint8_t>((k / FONT_CELLS_PER_ROW) * GLYPH_T_STEP);
    }
}

void scrollUp(ConsoleState& console) {
    std::size_t rowBytes = static_cast<std::size_t>(console.columns);
    std::memmove(console.grid, console.grid + rowBytes, rowBytes * (console.rows - 1));
    std::memset(console.grid + rowBytes * (console.rows - 1), 0, rowBytes);
}

void nextRow(ConsoleState& console) {
    console.cursorColumn = 0;
    if (++console.cursorRow >= console.rows) {
        console.cursorRow = console.rows - 1;
        scrollUp(console);
    }
}

void putCharacter(ConsoleState& console, std::uint8_t c) {
    if (c == '\n') {
        nextRow(console);
    } else if (c == '\r') {
        console.cursorColumn = 0;
    } else if (c != 0) {
        // An embedded 0 (from "%c") would end the row's visible text, so it is dropped.
        if (console.cursorColumn >= console.columns) nextRow(console);
        console.grid[console.cursorRow * console.columns + console.cursorColumn] = c;
        ++console.cursorColumn;
    }
}

// Codes outside the 7-bit table (128 and above) draw as any code outside the set: the "A" cell.
void drawCharacter(const ConsoleState& console, std::uint8_t c, float x, float y) {
    int s = 0, t = 0;
    if (c < CONSOLE_GLYPHS) {
        s = console.glyph[c][0];
        t = console.glyph[c][1];
    }
    float s0 = static_cast<float>(s), t0 = static_cast<float>(t);
    float s1 = s0 + GLYPH_S_STEP, t1 = t0 + GLYPH_T_STEP;
    float x1 = x + console.cellWidth, y1 = y + console.cellHeight;
    const ConsoleVertex strip[4] = {
        {x, y, 1.0f, 1.0f, s0, t0, 0.0f, 0.0f, 0},
        {x1, y, 1.0f, 1.0f, s1, t0, 0.0f, 0.0f, 0},
        {x, y1, 1.0f, 1.0f, s0, t1, 0.0f, 0.0f, 0},
        {x1, y1, 1.0f, 1.0f, s1, t1, 0.0f, 0.0f, 0},
    };
    vxDrawVertexList(VX_TRIANGLE_STRIP, 4, strip, sizeof(ConsoleVertex));
}

void setConsoleState(const ConsoleState& console) {
    vxSetColorCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_LOCAL, VX_LOCAL_CONSTANT, VX_OTHER_TEXTURE,
                      false);
    vxSetAlphaCombine(VX_COMBINE_SCALE_OTHER, VX_FACTOR_ONE, VX_LOCAL_CONSTANT, VX_OTHER_TEXTURE,
                      false);
    vxSetTextureCombine(0, VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_COMBINE_LOCAL, VX_FACTOR_ZERO,
                        false, false);
    vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA, VX_BLEND_ONE, VX_BLEND_ZERO);
    vxSetAlphaTest(VX_CMP_ALWAYS);
    vxSetAlphaTestReference(1);
    vxSetTexFilter(0, VX_FILTER_POINT, VX_FILTER_POINT);
    vxSetTexMipMapMode(0, VX_MIPMAP_DISABLE, false);
    vxSetDepthFunction(VX_CMP_ALWAYS);
    vxSetOrigin(VX_ORIGIN_UPPER_LEFT);
    vxSetCullMode(VX_CULL_NONE);
    vxSetClipWindow(0, 0, static_cast<int>(console.scaleX), static_cast<int>(console.scaleY));
    vxSetConstantColor(console.colour);
    vxSetFogMode(VX_FOG_DISABLE);
    // Glyphs are one flat colour, opaque or not there: dithering would only speckle them.
    vxSetDitherMode(VX_DITHER_DISABLE);
}

}  // namespace

int consoleInit(float x0, float y0, float x1, float y1, float scaleX, float scaleY, int columns,
                int rows, std::uint32_t colour) {
    ConsoleState& console = display.console;
    console.scaleX = scaleX;
    console.scaleY = scaleY;
    console.enabled = 0;
    describeFont(console.font);
    // Reopening the output may lose the unit's memory: put the font back where it is.
    if (console.font.slot[0].resident && fontCache()) cacheRefresh(*fontCache(), console.font);

    if (std::getenv("KR_VEXA_NO_FONT")) return 1;

    buildGlyphTable(console);
    if (columns < 1) columns = 1;
    if (rows < 1) rows = 1;
    delete[] console.grid;
    console.grid = new std::uint8_t[static_cast<std::size_t>(columns) * rows]();
    console.cursorRow = 0;
    console.cursorColumn = 0;

    console.columns = columns;
    console.rows = rows;
    console.colour = colour;
    console.cellWidth = (x1 - x0) / columns * scaleX;
    console.cellHeight = (y1 - y0) / rows * scaleY;
    console.originX = x0 * scaleX;
    console.originY = y0 * scaleY;
    console.enabled = 1;
    return 1;
}

// Text past CONSOLE_LINE_BUFFER - 1 characters is cut; the result is still the length the
// formatting asked for (0 for a formatting error).
int consolePrintf(const char* format, ...) {
    ConsoleState& console = display.console;
    if (!console.enabled) return 0;
    std::va_list args;
    va_start(args, format);
    int length = std::vsnprintf(console.lineBuffer, sizeof console.lineBuffer, format, args);
    va_end(args);
    if (length < 0) return 0;
    int stored = length < CONSOLE_LINE_BUFFER - 1 ? length : CONSOLE_LINE_BUFFER - 1;
    for (int i = 0; i < stored; ++i) {
        auto c = static_cast<unsigned char>(console.lineBuffer[i]);
        putCharacter(console, static_cast<std::uint8_t>(std::toupper(c)));
    }
    return length;
}

void consoleClear() {
    ConsoleState& console = display.console;
    if (console.grid)
        std::memset(console.grid, 0, static_cast<std::size_t>(console.columns) * console.rows);
    console.cursorRow = 0;
    console.cursorColumn = 0;
}

void consoleSetColour(std::uint32_t colour) { display.console.colour = colour; }

void consoleDraw() {
    const ConsoleState& console = display.console;
    if (!console.enabled || !fontCache()) return;
    saveRenderState();
    setConsoleState(console);
    TextureCache& cache = *fontCache();
    cacheBind(cache, display.console.font);
    // A font the unit's memory refused (the cache reports that once) leaves no glyphs bound:
    // drawn anyway, every character would be an opaque block, so the text is left out.
    if (display.console.font.slot[cache.unit].resident) {
        for (int row = 0; row < console.rows; ++row) {
            const std::uint8_t* line = console.grid + row * console.columns;
            float x = console.originX;
            float y = console.originY + row * console.cellHeight;
            for (int column = 0; column < console.columns && line[column] != 0; ++column) {
                drawCharacter(console, line[column], x, y);
                x += console.cellWidth;
            }
        }
    }
    restoreRenderState();
}

void consoleDrawBacking(std::uint32_t colour) {
    const ConsoleState& console = display.console;
    if (!console.enabled || !fontCache() || console.grid == nullptr) return;
    // The backing belongs to text: with the font refused there is none to back.
    if (!display.console.font.slot[fontCache()->unit].resident) return;
    int firstRow = -1, lastRow = -1, widest = 0;
    for (int row = 0; row < console.rows; ++row) {
        const std::uint8_t* line = console.grid + row * console.columns;
        int length = 0;
        while (length < console.columns && line[length] != 0) ++length;
        if (length == 0) continue;
        if (firstRow < 0) firstRow = row;
        lastRow = row;
        if (length > widest) widest = length;
    }
    if (firstRow < 0) return;
    const float margin = 0.5f * console.cellWidth;
    const float x0 = console.originX > margin ? console.originX - margin : 0.0f;
    const float x1 = console.originX + static_cast<float>(widest) * console.cellWidth + margin;
    const float y0 = console.originY + static_cast<float>(firstRow) * console.cellHeight;
    const float y1 = console.originY + static_cast<float>(lastRow + 1) * console.cellHeight;
    saveRenderState();
    vxSetColorCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                      false);
    vxSetAlphaCombine(VX_COMBINE_LOCAL, VX_FACTOR_ZERO, VX_LOCAL_CONSTANT, VX_OTHER_CONSTANT,
                      false);
    vxSetAlphaBlend(VX_BLEND_SRC_ALPHA, VX_BLEND_ONE_MINUS_SRC_ALPHA, VX_BLEND_ONE, VX_BLEND_ZERO);
    vxSetAlphaTest(VX_CMP_ALWAYS);
    vxSetDepthFunction(VX_CMP_ALWAYS);
    vxSetDepthMask(false);
    vxSetOrigin(VX_ORIGIN_UPPER_LEFT);
    vxSetCullMode(VX_CULL_NONE);
    vxSetClipWindow(0, 0, static_cast<int>(console.scaleX), static_cast<int>(console.scaleY));
    vxSetConstantColor(colour);
    vxSetFogMode(VX_FOG_DISABLE);
    vxSetDitherMode(VX_DITHER_DISABLE);
    const ConsoleVertex strip[4] = {
        {x0, y0, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0},
        {x1, y0, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0},
        {x0, y1, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0},
        {x1, y1, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0},
    };
    vxDrawVertexList(VX_TRIANGLE_STRIP, 4, strip, sizeof(ConsoleVertex));
    restoreRenderState();
}

void consoleFree() {
    ConsoleState& console = display.console;
    if (fontCache() && console.font.slot[0].resident) cacheRemove(*fontCache(), console.font);
    delete[] console.grid;
    console.grid = nullptr;
    console.enabled = 0;
}
