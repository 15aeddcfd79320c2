#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// Where a network line leads: "tcp://HOST:PORT", raw TCP (a printer's own
// network port, 9100 by convention), or "rfc2217://HOST:PORT", a serial
// device server. HOST is a name or an address, an IPv6 address in brackets
// ("rfc2217://[::1]:4000"), a link-local one with its interface
// ("rfc2217://[fe80::1%eth0]:4000").
struct NetworkAddress {
    enum class Kind { Raw, Rfc2217 };
    Kind kind = Kind::Raw;
    QString host; // without the brackets
    uint16_t port = 0;

    // Null for anything that is not one of the two forms, in full.
    static std::optional<NetworkAddress> parse(const QString& url);
    // Whether a text names a network line at all ("scheme://..."), sound or not.
    static bool isUrl(const QString& text);
    // "HOST:PORT", an IPv6 address in brackets.
    QString hostPort() const;
    // An IPv6 link-local address (fe80::/10) that names no interface: it
    // cannot be reached, as any interface may have it.
    bool lacksZone() const;
};

// Why the last attempt to open a network line failed, for the operator: the
// component itself reports only its fixed codes. Kept per URL, replaced by
// each attempt; None after a success.
struct NetworkFailure {
    enum class Kind {
        None,
        Malformed,
        NameNotFound,
        NameServerSilent, // the name could not be looked up now
        Refused,
        NoAnswer,       // nothing within the time to connect
        Unreachable,    // another error of the connect: errorNumber says which
        NotRfc2217,     // connected, but the server does not take COM-PORT-OPTION
        SettingRefused, // the server answered another value, or none
        ZoneNeeded,     // a link-local IPv6 address without its interface
        ServerRefused,  // the server said why it would not serve, in said
        Misbehaved,     // the server was dropped: it would not take what it asked for
    };
    enum class Setting { Rate, DataBits, Parity, StopBits };

    Kind kind = Kind::None;
    int errorNumber = 0;
    Setting setting = Setting::Rate;
    uint32_t asked = 0;
    std::optional<uint32_t> answered; // none: the server did not answer
    QString said;

    // Any thread: a line records why it dropped its server.

    static NetworkFailure last(const QString& url);
    static void record(const QString& url, const NetworkFailure& failure);
};
