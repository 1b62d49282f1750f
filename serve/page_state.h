// What the farm page shows, held between requests: the tiles made from the last health round
// (or, before a round has read them, from a listing), each VM's last thumbnail and full-size
// screen, and one version over all of it. A page asks
// with the version it has: the same version gets no bytes, any change a new document. The
// images go by URL with their own version, so the browser keeps each until it changes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "farm/report/outcome_document.h"
#include "image/image_scaling.h"

namespace serve {

struct PageSettings {
    double health_interval_s = 0;
    double thumb_interval_s = 0;
    bool read_only = false;  // the page offers no action
};

// One stored picture: its bytes and its version (counted per VM, from 1).
struct PagePicture {
    std::string bytes;     // JPEG
    std::string original;  // the capture as it came (PNG), kept for the full-size screen only
    int screen_width = 0;  // the device's screen, for a tap at the scaled point
    int screen_height = 0;
    std::uint64_t version = 0;
    // A capture that came as pixels (no PNG): the full-size screen's, made into a PNG only
    // when it is downloaded. Kept for the newest full-size screen alone, as it is large.
    std::shared_ptr<const image::Picture> screen = nullptr;
};

class PageState {
public:
    explicit PageState(PageSettings settings);

    // A health round's document (the `health` command's --json document): the tiles. VMs the
    // round does not name lose their pictures. True when anything a page shows changed.
    bool SetHealth(const Document& health);
    // A listing's document (the `list` command's --json document), read before the first health
    // round of a page's visit because it comes much sooner: the tiles with their titles and
    // states, each verdict still to come (`healthy` null, the document "checking"). VMs it does
    // not name lose their pictures. True when anything a page shows changed.
    bool SetListing(const Document& listing);
    // A failed round: its message shown, the last tiles kept.
    bool SetProblem(const std::string& utf8_message);
    // A VM's new thumbnail (or full-size screen); the version goes up even when the bytes are
    // the same, as the capture is newer. A full-size screen's pixels take the place of any
    // other VM's.
    void SetPicture(int32_t index, bool full, PagePicture picture);

    std::uint64_t Version() const { return version_; }
    // The document as text, or nothing when `known` is the current version.
    std::optional<std::string> Since(std::optional<std::uint64_t> known) const;
    // The picture of VM `index`, when there is one.
    const PagePicture* Picture(int32_t index, bool full) const;

private:
    // The tiles of a health or listing document; the VMs it does not name lose their pictures.
    bool SetTiles(const Document& document, const std::string& sampled_at, bool checking);
    void Changed();

    PageSettings settings_;
    Document tiles_ = Document::array();
    std::string problem_;
    std::string sampled_at_;
    bool checking_ = true;  // no health round has given these tiles their verdicts yet
    std::map<int32_t, PagePicture> thumbs_;
    std::map<int32_t, PagePicture> fulls_;
    std::uint64_t version_ = 1;
    std::string text_;
};

}  // namespace serve
