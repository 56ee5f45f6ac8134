// The configuration the benchmarks load and save: every one of the 51 connections and 251
// accounts used, every value set.
#pragma once

#include <string>

#include "config/layout.h"
#include "config/settings.h"

namespace kelvaston::bench {

inline void FillFullConfiguration(config::Settings& s) {
    config::InitSettings(s);
    s.Global = {"1",     "c:\\inetpub\\bdw",  "4", "proxy.example.com", "8080",
                "15001", "ticker@example.com"};
    for (std::size_t c = 0; c < config::kConnectionSlots; ++c) {
        s.Connections[c] = {c == 0 ? "NORAS" : "Verbindung " + std::to_string(c), "1",
                            std::to_string(300 + c)};
    }
    for (std::size_t a = 0; a < config::kAccountSlots; ++a) {
        config::AccountRecord& r = s.Accounts[a];
        r.Connection = s.Connections[a % config::kConnectionSlots].Name;
        r.Name = "konto" + std::to_string(a);
        for (const auto& field : config::layout::kAccountValues) {
            r.*field.field =
                field.IsNumber() ? std::to_string(a % 7) : std::string("wert-") + field.name;
        }
        r.POPHost = "pop" + std::to_string(a) + ".example.net";
        r.SMTPTo = "postfach" + std::to_string(a) + "@example.org";
    }
}

}  // namespace kelvaston::bench
