// An observer of a favourite list that writes down what it hears: "+first:last" for rows
// inserted, "-first:last" removed, "~first:last" changed, and "reset".
#pragma once

#include <string>
#include <vector>

#include "app/core/FavoriteList.h"

struct TListEventLog : TFavoriteListObserver {
    std::vector<std::string> events;
    void BeforeInsert(std::size_t f, std::size_t l) override { Add("+", f, l); }
    void BeforeRemove(std::size_t f, std::size_t l) override { Add("-", f, l); }
    void BeforeReset() override { events.push_back("reset"); }
    void RowsChanged(std::size_t f, std::size_t l) override { Add("~", f, l); }
    void Add(const char* what, std::size_t f, std::size_t l) {
        events.push_back(what + std::to_string(f) + ":" + std::to_string(l));
    }
};
