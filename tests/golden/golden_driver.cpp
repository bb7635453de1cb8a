// Prints "name shape sha256" for the response to "generate" and
// "generate_stream" of every spec in a JSON-lines file, so builds of any
// flavour and platform can be compared byte for byte through their digests.
//
//   golden_driver SPECS.jsonl [--dump DIR]   digests (and full responses into DIR)
//   golden_driver --self-test                checks the digest on known vectors
//
// Each line is an object with "name" and "spec"; the line itself, with "cmd"
// added, is the command (the dispatcher ignores the "name" member). A line
// with "extended": true holds a spec of the extended language instead: it is
// run with labels and digested as shape "tables", the CSV bytes (header and
// rows) of its candles with labels, trades, book and funding, one after the
// other (or the rendered error of a rejected or failed run).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "encode/csv.hpp"
#include "generate/run.hpp"
#include "json/reader.hpp"
#include "sha256.hpp"
#include "spec/decode.hpp"
#include "synth/synth.hpp"

namespace {

using synth::golden::sha256_hex;

int self_test() {
    struct Vector {
        std::string input;
        std::string_view digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // 55 and 56 bytes: the last length that fits the final block and the
        // first that needs another.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    };
    int failures = 0;
    for (const Vector& v : vectors) {
        std::string got = sha256_hex(v.input);
        if (got != v.digest) {
            std::fprintf(stderr, "sha256 of %zu bytes: got %s, want %.*s\n", v.input.size(),
                         got.c_str(), static_cast<int>(v.digest.size()), v.digest.data());
            ++failures;
        }
    }
    std::printf("sha256 self-test: %s\n", failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// The canonical bytes of an extended run: every table as CSV, labels on.
std::string extended_tables(const synth::json::JsonValue& spec_value) {
    using synth::encode::CsvTable;
    auto spec = synth::spec::spec_from_value(spec_value, synth::spec::Dialect::extended);
    if (!spec) return spec.error().render();
    auto run = synth::generate::Run::start(spec.value(), synth::generate::RunOptions{true});
    if (!run) return run.error().render();
    synth::generate::ColumnBatch batch;
    auto made = run.value().advance(spec.value().bars, batch);
    if (!made) return made.error().render();
    std::string out;
    for (CsvTable table :
         {CsvTable::labeled_candles, CsvTable::trades, CsvTable::book, CsvTable::funding}) {
        out += synth::encode::csv_header(table, batch.book_depth);
        out += synth::encode::encode_csv(batch, table);
    }
    return out;
}

void dump(const std::string& dir, const std::string& name, std::string_view shape,
          std::string_view ext, const std::string& text) {
    if (dir.empty()) return;
    std::ofstream out(dir + "/" + name + "." + std::string(shape) + std::string(ext),
                      std::ios::binary);
    out << text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--self-test") return self_test();
    if (argc != 2 && !(argc == 4 && std::string_view(argv[2]) == "--dump")) {
        std::fprintf(stderr, "usage: %s SPECS.jsonl [--dump DIR] | --self-test\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const std::string dump_dir = argc == 4 ? argv[3] : "";

    std::string raw;
    int line_no = 0;
    while (std::getline(in, raw)) {
        ++line_no;
        std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        auto parsed = synth::json::read(line);
        const synth::json::JsonObject* object = parsed ? parsed.value().as_object() : nullptr;
        const std::string* name = nullptr;
        if (object != nullptr) {
            auto it = object->find("name");
            if (it != object->end()) name = it->second.as_string();
        }
        if (name == nullptr || line.front() != '{') {
            std::fprintf(stderr, "%s:%d: not an object with a \"name\"\n", argv[1], line_no);
            return 2;
        }
        auto extended = object->find("extended");
        if (extended != object->end() && extended->second.as_bool() != nullptr &&
            *extended->second.as_bool()) {
            auto spec = object->find("spec");
            const std::string text =
                spec == object->end() ? std::string("no \"spec\"") : extended_tables(spec->second);
            std::printf("%s tables %s\n", name->c_str(), sha256_hex(text).c_str());
            dump(dump_dir, *name, "tables", ".csv", text);
            continue;
        }
        for (std::string_view shape : {"generate", "generate_stream"}) {
            std::string cmd = "{\"cmd\":\"";
            cmd.append(shape).append("\",").append(line.substr(1));
            synth::protocol::SynthState state;
            synth::protocol::Response r = synth::protocol::command(state, cmd);
            if (r.status != synth::protocol::Response::Status::ok) {
                std::fprintf(stderr, "%s %.*s: %s\n", name->c_str(), static_cast<int>(shape.size()),
                             shape.data(), r.text.c_str());
                return 1;
            }
            std::printf("%s %.*s %s\n", name->c_str(), static_cast<int>(shape.size()), shape.data(),
                        sha256_hex(r.text).c_str());
            dump(dump_dir, *name, shape, ".json", r.text);
        }
    }
    return 0;
}
