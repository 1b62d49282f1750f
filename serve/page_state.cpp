#include "serve/page_state.h"

#include <set>

namespace serve {
namespace {

// A reading of the health document, or null.
Document Field(const Document& vm, const char* name) {
    const auto found = vm.find(name);
    return found == vm.end() ? Document() : *found;
}

// The tile's reason: why a running VM is unhealthy, in the health round's words.
std::string ReasonOf(const Document& vm) {
    std::string reason;
    const auto problems = vm.find("problems");
    if (problems == vm.end() || !problems->is_array()) return reason;
    for (const Document& problem : *problems)
        if (problem.is_string())
            reason += (reason.empty() ? "" : "; ") + problem.get<std::string>();
    return reason;
}

// The tiles of a health or listing document's "vms", and in `named` every index they hold. A
// listing names no verdict, reason, CPU or memory: its tiles have them null (the reason empty),
// for the health round to fill in.
Document TilesOf(const Document& document, std::set<int32_t>& named) {
    Document tiles = Document::array();
    const auto vms = document.find("vms");
    if (vms == document.end() || !vms->is_array()) return tiles;
    for (const Document& vm : *vms) {
        if (!vm.is_object() || !vm.contains("index") || !vm["index"].is_number_integer()) continue;
        const int32_t index = vm["index"].get<int32_t>();
        named.insert(index);
        Document tile;
        tile["index"] = index;
        tile["title"] = Field(vm, "title");
        tile["started"] = Field(vm, "started");
        tile["healthy"] = Field(vm, "healthy");
        tile["reason"] = ReasonOf(vm);
        tile["cpu_ratio"] = Field(vm, "cpu_ratio");
        tile["private_bytes"] = Field(vm, "private_bytes");
        tile["working_set_bytes"] = Field(vm, "working_set_bytes");
        tiles.push_back(std::move(tile));
    }
    return tiles;
}

}  // namespace

PageState::PageState(PageSettings settings) : settings_(settings) {
    Changed();
}

bool PageState::SetHealth(const Document& health) {
    std::string sampled_at;
    if (const auto at = health.find("sampled_at"); at != health.end() && at->is_string())
        sampled_at = at->get<std::string>();
    return SetTiles(health, sampled_at, false);
}

bool PageState::SetListing(const Document& listing) {
    return SetTiles(listing, sampled_at_, true);
}

bool PageState::SetTiles(const Document& document, const std::string& sampled_at, bool checking) {
    std::set<int32_t> named;
    Document tiles = TilesOf(document, named);
    for (auto* pictures : {&thumbs_, &fulls_})
        for (auto it = pictures->begin(); it != pictures->end();)
            it = named.count(it->first) ? std::next(it) : pictures->erase(it);
    // The time of the round alone is no change: a page that has every tile as it is needs no
    // new document because the farm was read again.
    const bool changed = tiles != tiles_ || !problem_.empty() || checking != checking_;
    sampled_at_ = sampled_at;
    if (!changed) return false;
    tiles_ = std::move(tiles);
    problem_.clear();
    checking_ = checking;
    Changed();
    return true;
}

bool PageState::SetProblem(const std::string& utf8_message) {
    if (problem_ == utf8_message && !checking_) return false;
    problem_ = utf8_message;
    checking_ = false;  // the round ended, without verdicts
    Changed();
    return true;
}

void PageState::SetPicture(int32_t index, bool full, PagePicture picture) {
    PagePicture& kept = (full ? fulls_ : thumbs_)[index];
    picture.version = kept.version + 1;
    if (!full) {
        picture.original.clear();
        picture.screen.reset();
    } else if (picture.screen) {
        for (auto& [other, other_picture] : fulls_)
            if (other != index) other_picture.screen.reset();
    }
    kept = std::move(picture);
    Changed();
}

const PagePicture* PageState::Picture(int32_t index, bool full) const {
    const auto& pictures = full ? fulls_ : thumbs_;
    const auto found = pictures.find(index);
    return found == pictures.end() ? nullptr : &found->second;
}

std::optional<std::string> PageState::Since(std::optional<std::uint64_t> known) const {
    if (known && *known == version_) return std::nullopt;
    return text_;
}

void PageState::Changed() {
    ++version_;
    Document document;
    document["version"] = version_;
    document["health_interval"] = settings_.health_interval_s;
    document["thumb_interval"] = settings_.thumb_interval_s;
    document["read_only"] = settings_.read_only;
    document["sampled_at"] = sampled_at_;
    document["problem"] = problem_;
    document["checking"] = checking_;
    Document vms = Document::array();
    for (Document tile : tiles_) {
        const int32_t index = tile["index"].get<int32_t>();
        const PagePicture* thumb = Picture(index, false);
        const PagePicture* full = Picture(index, true);
        tile["thumb"] = thumb ? Document(thumb->version) : Document();
        tile["full"] = full ? Document(full->version) : Document();
        const PagePicture* shown = full ? full : thumb;
        tile["screen"] =
            shown ? Document::array({shown->screen_width, shown->screen_height}) : Document();
        vms.push_back(std::move(tile));
    }
    document["vms"] = std::move(vms);
    text_ = DocumentText(document);
}

}  // namespace serve
