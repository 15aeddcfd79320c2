#pragma once

// The two printers the emulation can be: the parser, the interpreter and the
// panel all ask which one it is now.
enum class PrinterModel {
    KorvexaDual, // the normal dialect: ESC v status, ESC p drawer, ESC a feed
    Compatible,  // the 40/48-column model: ESC V status, ESC v n drawer, ESC f 1 n feed
};
