// A recording stand-in for the host's basic suite, for unit tests that need to see every
// acquire and release in order. One instance is active at a time (the suite's functions carry
// no context).
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "HostInterface/SuiteInterface.h"

namespace OmbrelTest {

using SuiteKey = std::pair<std::string, A_long>;

class FakeBasicSuite {
public:
    FakeBasicSuite() {
        active() = this;
        suite.AcquireSuite = &Acquire;
        suite.ReleaseSuite = &Release;
    }
    ~FakeBasicSuite() { active() = nullptr; }
    FakeBasicSuite(const FakeBasicSuite&) = delete;
    FakeBasicSuite& operator=(const FakeBasicSuite&) = delete;

    // Makes (name, version) available with the given table.
    void provide(const std::string& name, A_long version, const void* table) {
        tables[{name, version}] = table;
    }
    int held(const std::string& name, A_long version) const {
        auto it = references.find({name, version});
        return it == references.end() ? 0 : it->second;
    }

    SPBasicSuite suite{};
    std::map<SuiteKey, const void*> tables;
    std::set<SuiteKey> errorButTable; // answers with an error code and still the table
    std::vector<SuiteKey> acquires;   // every acquire call, in order
    std::vector<SuiteKey> releases;   // every release call, in order
    std::map<SuiteKey, int> references;

private:
    static FakeBasicSuite*& active() {
        static FakeBasicSuite* instance = nullptr;
        return instance;
    }
    static SPErr Acquire(const char* name, A_long version, const void** out) {
        FakeBasicSuite& self = *active();
        SuiteKey key{name, version};
        self.acquires.push_back(key);
        auto it = self.tables.find(key);
        if (it == self.tables.end())
            return kSPSuiteNotFoundError;
        *out = it->second;
        ++self.references[key];
        return self.errorButTable.count(key) != 0 ? kSPSuiteNotFoundError : kSPNoError;
    }
    static SPErr Release(const char* name, A_long version) {
        FakeBasicSuite& self = *active();
        SuiteKey key{name, version};
        self.releases.push_back(key);
        --self.references[key];
        return kSPNoError;
    }
};

} // namespace OmbrelTest
