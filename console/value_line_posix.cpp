// Typed values on POSIX. They come from standard input as the keys do, read
// by lines into std::cin's buffer, apart from the keys: what is left of a
// value line waits for the next value and is never read as a key. The
// terminal stays raw for a value too, with the line editing and its echo done
// here: so typed-ahead text shows as well, cursor keys edit instead of
// becoming text, and a stopped and continued prompt can be drawn again with
// its text. A typed line counts only once Enter is pressed.

#include <termios.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <new>
#include <streambuf>

#include "console/console.h"
#include "console/console_posix.h"
#include "console/key_decoder.h"
#include "console/line_editor.h"
#include "console/terminal_posix.h"

namespace {

// How long a lone Escape waits for the rest of a sequence.
constexpr int ESCAPE_WAIT_MS = 100;

constexpr std::uint8_t ESC = 0x1b;
constexpr std::uint8_t CTRL_U = 0x15;
constexpr std::uint8_t CTRL_W = 0x17;

// The value's field leaves this much of its line to the prompt before it.
constexpr unsigned PROMPT_ROOM = 16;
constexpr unsigned DEFAULT_COLUMNS = 80;

bool pipedLineOpen = false;   // a piped value line was read only in part

bool matches(std::uint8_t byte, int editingCharacter)
{
    return editingCharacter >= 0 && byte == editingCharacter;
}

// Cells the value's field may take: the rest of the window's width after
// the short prompt text that comes before it on its line, within the field's
// limits that the editor keeps too.
unsigned valueFieldWidth()
{
    const int cols = windowSize().cols;
    const unsigned columns = cols > 0 ? static_cast<unsigned>(cols) : DEFAULT_COLUMNS;
    return std::clamp(columns > PROMPT_ROOM ? columns - PROMPT_ROOM : 0U, 2U, FIELD_MAX_CELLS);
}

// One echo's worth of output; static, so that typing never allocates.
char echo[ECHO_BYTES];

// As every other output: only in the foreground, and a failure ends the
// program. An echo cut short by a stop is drawn afresh after the continue.
void writeEcho(std::size_t size)
{
    if (!outputInForeground())
        return;
    if (const int error = writeOutput(echo, size); error != 0 && error != LOST_FOREGROUND)
        failOutput(error);
}

// Straight to the terminal, apart from the frame: the echo changes with every
// key, and a replay draws it afresh instead.
void showLine(LineEdit& line)
{
    writeEcho(redrawLine(line, valueFieldWidth(), echo));
}

enum class LineState { EDITING, ENTERED, ENDED_EMPTY };

LineState typeByte(LineEdit& line, std::uint8_t byte)
{
    if (byte == '\r' || byte == '\n')
        return LineState::ENTERED;
    if (matches(byte, editingChar(VEOF))) {
        if (line.size == 0)
            return LineState::ENDED_EMPTY;
        applyEdit(line, Edit::DELETE_UNDER);
    } else if (matches(byte, editingChar(VERASE)) || byte == '\b' || byte == 0x7f) {
        applyEdit(line, Edit::ERASE_BEFORE);
    } else if (matches(byte, editingChar(VKILL)) || byte == CTRL_U) {
        applyEdit(line, Edit::KILL_BEFORE);
    } else if (matches(byte, editingChar(VWERASE)) || byte == CTRL_W) {
        applyEdit(line, Edit::WORD_BEFORE);
    } else {
        insertByte(line, byte);
    }
    return LineState::EDITING;
}

void keyOnLine(LineEdit& line, const Key& key)
{
    if (!key.done)
        return;
    switch (key.code) {
    case KEY_LEFT: applyEdit(line, Edit::LEFT); break;
    case KEY_RIGHT: applyEdit(line, Edit::RIGHT); break;
    case KEY_HOME: applyEdit(line, Edit::HOME); break;
    case KEY_END: applyEdit(line, Edit::END); break;
    case KEY_DELETE: applyEdit(line, Edit::DELETE_UNDER); break;
    default: break;  // Escape, Up, Down, function keys, Alt with a key: nothing
    }
}

// The entered line, as the screen's record keeps it, and its end.
void enter(LineEdit& line)
{
    writeEcho(backToFieldStart(line, echo));
    std::cout.write(echo, static_cast<std::streamsize>(shownLine(line, valueFieldWidth(), echo)));
    std::cout << '\n' << std::flush;
}

// Edits one line typed at the terminal, in line.text; its length with its
// end once Enter was pressed, 0 when input ended first: what was never
// entered is never read as a value.
std::size_t readTypedLine(LineEdit& line)
{
    startLine(line);
    KeyDecoder keys;  // the sequences of cursor and editing keys
    for (;;) {
        std::uint8_t byte = 0;
        const bool started = keyStarted(keys);
        const InputByte got = nextInputByte(byte, started ? ESCAPE_WAIT_MS : -1, !started);
        if (got == InputByte::ENDED)
            return 0;
        if (got == InputByte::STALE) {
            replayScreen();  // the screen up to the field, which is drawn anew
            line.shownCells = 0;
            line.cursorCells = 0;
            showLine(line);
            continue;
        }
        if (got == InputByte::TIMED_OUT) {
            finishKey(keys);  // a lone Escape
        } else if (byte == ESC || (started && byte >= 0x20 && byte != 0x7f)) {
            keyOnLine(line, feedKeyByte(keys, byte));
        } else {
            finishKey(keys);  // a control byte cuts a sequence short and acts itself
            const LineState typed = typeByte(line, byte);
            if (typed == LineState::ENDED_EMPTY) {
                // An entry, not the end of input: one that no number can be read from.
                line.text[0] = '\x04';
                line.text[1] = '\n';
                std::cout << '\n' << std::flush;
                return 2;
            }
            if (typed == LineState::ENTERED) {
                enter(line);
                if (line.overflowed) {
                    line.text[0] = '\x04';  // never cut into a value: invalid as a whole
                    line.size = 1;
                }
                line.text[line.size] = '\n';
                return line.size + 1;
            }
        }
        if (!inputWaiting())  // a paste is shown once, after its last byte
            showLine(line);
    }
}

// A piped line, read up to its end and never beyond it (whatever follows on
// the descriptor stays there as keys), or as much of it as `text` holds.
std::size_t readPipedLine(char* text)
{
    std::size_t size = 0;
    pipedLineOpen = true;
    while (size < LINE_BYTES) {
        std::uint8_t byte = 0;
        const InputByte got = nextInputByte(byte, -1, true);
        if (got == InputByte::ENDED)
            break;
        if (got == InputByte::STALE) {
            replayScreen();
            continue;
        }
        text[size++] = static_cast<char>(byte);
        if (byte == '\n') {
            pipedLineOpen = false;
            break;
        }
    }
    if (inputEnded())
        pipedLineOpen = false;
    return size;
}

}  // namespace

void dropRestOfPipedLine()
{
    while (pipedLineOpen && !inputEnded()) {
        std::uint8_t byte = 0;
        const InputByte got = nextInputByte(byte, -1, false);
        if (got == InputByte::BYTE && byte == '\n')
            pipedLineOpen = false;
    }
    pipedLineOpen = false;
}

namespace {

struct ValueLineBuffer;

// std::cin's tie: every read of a value first writes out the screen, the
// rest of the line it will read included.
struct BeforeValueRead : std::streambuf {
    ValueLineBuffer* values = nullptr;
    int sync() override;
};

// std::cin's source. Keys and values share one descriptor here, while a console
// keeps them apart; reading whole lines into this buffer keeps them apart too:
// what is left of a value line stays here for the next value and never
// reaches the keys. A value is read from it as a stream, so a piped line
// longer than the buffer goes on in the next part.
struct ValueLineBuffer : std::streambuf {
    BeforeValueRead before;
    std::ostream tie{&before};
    LineEdit line;
    // The output as it stood once the line was last shown: a prompt that
    // reads on from there has not written anything since.
    unsigned long long shownAtOutput = 0;

    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        std::size_t size = 0;
        if (!inputEnded())
            size = inputIsTerminal() ? readTypedLine(line) : readPipedLine(line.text);
        shownAtOutput = outputWritten();  // typed lines echo as they are typed
        // At the end of input readKey reports it too, so the browse loop ends.
        if (size == 0) {
            setg(line.text, line.text, line.text);
            return traits_type::eof();
        }
        setg(line.text, line.text, line.text + size);
        return traits_type::to_int_type(line.text[0]);
    }

    // What an earlier value left of a typed line, echoed when a new prompt
    // starts to read it.
    void showRest()
    {
        if (!inputIsTerminal() || gptr() == egptr() || outputWritten() == shownAtOutput)
            return;
        const unsigned width = valueFieldWidth();
        unsigned cells = 0;
        for (const char* p = gptr(); p < egptr() && *p != '\n';) {
            char glyph[4];
            std::size_t glyphSize = 0;
            unsigned c = 0;
            p += glyphOf(p, static_cast<std::size_t>(egptr() - p), glyph, glyphSize, c);
            cells += c;
            if (cells >= width)
                break;
            std::cout.write(glyph, static_cast<std::streamsize>(glyphSize));
        }
        shownAtOutput = outputWritten();
    }

    ValueLineBuffer() { before.values = this; }
    ValueLineBuffer(const ValueLineBuffer&) = delete;
    ValueLineBuffer& operator=(const ValueLineBuffer&) = delete;
    ~ValueLineBuffer() override
    {
        if (std::cin.tie() == &tie)
            std::cin.tie(&std::cout);
    }
};

int BeforeValueRead::sync()
{
    values->showRest();
    std::cout.flush();
    return 0;
}

}  // namespace

void installValueLine()
{
    // Never destroyed: std::cin may be read until the very end.
    alignas(ValueLineBuffer) static unsigned char storage[sizeof(ValueLineBuffer)];
    auto* const values = new (storage) ValueLineBuffer;
    std::cin.rdbuf(values);
    std::cin.tie(&values->tie);
}

