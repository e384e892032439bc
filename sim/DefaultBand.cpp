// SPDX-License-Identifier: GPL-3.0-or-later
// The band received until a band file says otherwise: a demo for the menu
// (40 services, so 41 entries with "Rescan" fill 14 rows of 3) that speaks
// Europe (EBU Latin labels and texts in French, Polish, Swedish, German and
// Czech, one label in UTF-8) and also carries the cases a host must survive: ensembles on the first
// and the last index, a label starting with a zero byte and one with leading blanks, a data
// service, services of several components, one service id on two ensembles, an ensemble whose time
// has year 0 and one that sends no time, user applications of slideshow and journal type with even
// and odd data lengths, one component listing the same type twice, and a weak ensemble that is
// never acquired.
#include "Band.h"

namespace sim {

namespace {

constexpr uint16_t ua_slideshow = 0x0002;
constexpr uint16_t ua_journal = 0x044A;
constexpr uint8_t ascty_dab_plus = 63;
constexpr uint8_t ascty_dab = 0;
constexpr uint8_t dscty_mot = 60;
constexpr uint8_t dscty_journal = 44;

// TMID 0: audio stream on a subchannel; TMID 3: packet data, service component id.
constexpr uint16_t stream(uint8_t subchannel) {
    return subchannel & 0x3F;
}
constexpr uint16_t packet_data(uint16_t scid) {
    return static_cast<uint16_t>(0xC000 | (scid & 0x0FFF));
}

Component audio(uint8_t subchannel, uint8_t ascty = ascty_dab_plus) {
    Component c;
    c.id = stream(subchannel);
    c.ps = true;
    c.ascty_dscty = ascty;
    c.mua_info_valid = true;
    c.language = 9; // English
    return c;
}

Component data_component(uint16_t scid, uint8_t dscty, uint8_t global_id) {
    Component c;
    c.id = packet_data(scid);
    c.ascty_dscty = dscty;
    c.global_id = global_id;
    return c;
}

UserApplication ua(uint16_t type, std::vector<uint8_t> data) {
    return UserApplication{type, std::move(data)};
}

// A slideshow picture in three segments; the leading bytes keep it from
// looking like a text packet.
std::vector<Packet> slideshow(uint8_t picture) {
    std::vector<Packet> packets;
    for (uint16_t segment = 0; segment < 3; ++segment) {
        Packet p;
        p.data_src = 1;
        p.dscty = dscty_mot;
        p.segment = segment;
        p.segments = 3;
        p.payload = {0x06, 0x4D, picture, static_cast<uint8_t>(segment)};
        for (uint8_t i = 0; i < 44 + segment * 7; ++i) {
            p.payload.push_back(static_cast<uint8_t>(picture * 31 + i * 7));
        }
        packets.push_back(std::move(p));
    }
    return packets;
}

// DL Plus content types.
constexpr uint8_t title = 1;
constexpr uint8_t artist = 4;
constexpr uint8_t station_name_long = 32;
constexpr uint8_t programme_now = 33;

TextOptions plain(uint8_t charset) {
    TextOptions o;
    o.charset = charset;
    return o;
}

TextOptions tagged(uint8_t charset, uint8_t item_toggle, bool item_running,
                   std::vector<DlPlusTag> tags) {
    TextOptions o = plain(charset);
    o.dl_plus = DlPlus{item_toggle, item_running, std::move(tags)};
    return o;
}

TextOptions clear_display() {
    TextOptions o;
    o.clear = true;
    return o;
}

// UCS-2 big-endian bytes.
std::string ucs2(std::u16string_view text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit >> 8));
        bytes.push_back(static_cast<char>(unit & 0xFF));
    }
    return bytes;
}

Service station(uint32_t id, const char *label, uint8_t pty, uint8_t subchannel,
                std::vector<std::string> texts) {
    Service s;
    s.id = id;
    s.pty = pty;
    s.label = make_label(label);
    s.components.push_back(audio(subchannel));
    s.components[0].label = s.label;
    s.texts = std::move(texts);
    return s;
}

Ensemble ensemble(std::size_t index, uint16_t id, const char *label, uint16_t version,
                  Reception reception) {
    Ensemble e;
    e.frequency_khz = band_iii_frequencies()[index];
    e.id = id;
    e.label = make_label(label);
    e.list_version = version;
    e.reception = reception;
    return e;
}

Reception reception(uint8_t rssi, uint8_t snr, uint8_t fic_quality, uint8_t cnr,
                    uint16_t fib_errors = 0) {
    Reception r;
    r.rssi = rssi;
    r.snr = snr;
    r.fic_quality = fic_quality;
    r.cnr = cnr;
    r.fib_errors = fib_errors;
    r.fast_detect = static_cast<uint8_t>(rssi / 2 + 10);
    return r;
}

DateTime at(uint16_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
            uint8_t second) {
    return DateTime{year, month, day, hour, minute, second};
}

// Index 0, 5A: the coast. The zero-byte label, leading blanks, a data
// service and a service with an extra slideshow data component.
Ensemble lowland() {
    Ensemble e = ensemble(0, 0x10A1, "Lowland Coast", 3, reception(38, 14, 92, 19, 2));
    e.time = at(2024, 5, 17, 8, 30, 0);

    Service harbour =
        station(0xD210, "Harbour FM", 10, 4,
                {"Now playing: The Quiet Tides - Northern Lights",
                 "Now playing: Mara Voss - Paper Boats", "Harbour FM - the sound of the coast"});
    harbour.components[0].user_applications = {ua(ua_slideshow, {0x0C, 0x0D}),
                                               ua(ua_journal, {0x01, 0x02, 0x03})};
    harbour.packets = slideshow(1);
    e.services.push_back(harbour);

    Service classic = station(
        0xD211, "Harbour Classic", 14, 5,
        {"Now playing: Aldric Benn - Sonata in G", "Now playing: The Eastgate Quartet - Adagio"});
    e.services.push_back(classic);

    Service talk = station(0xD212, "  Lantern Talk", 4, 6,
                           {"On air now: the morning phone-in", "Next: the weather at nine"});
    talk.label = make_label("  Lantern Talk");
    talk.components[0].label = talk.label;
    e.services.push_back(talk);

    Service owl = station(0xD213, "", 11, 7, {"Now playing: Low Hum - Midnight Ferry"});
    owl.label = make_label(std::string_view("\0Night Owl Radio", 16));
    owl.components[0].label = owl.label;
    e.services.push_back(owl);

    Service jazz = station(0xD214, "Beacon Jazz", 13, 8,
                           {"Now playing: Tess Arlow Trio - Blue Quay",
                            "Now playing: Olin Marsh - Slow Current",
                            "Now playing: The Dockside Five - Rope Walk"});
    Component jazz_pictures = data_component(0x214, dscty_mot, 1);
    jazz_pictures.label = make_label("Jazz Pictures");
    jazz_pictures.user_applications = {ua(ua_slideshow, {0x0C})};
    jazz.components.push_back(jazz_pictures);
    jazz.packets = slideshow(2);
    e.services.push_back(jazz);

    Service tides;
    tides.id = 0xE1D0A215; // a data service: ECC 0xE1 in the top byte
    tides.data = true;
    tides.label = make_label("Tide Tables");
    Component tide_pages = data_component(0x215, dscty_journal, 0);
    tide_pages.ps = true;
    tide_pages.label = tides.label;
    tide_pages.user_applications = {ua(ua_journal, {0x00, 0x01})};
    tides.components.push_back(tide_pages);
    Packet page;
    page.data_src = 0;
    page.dscty = dscty_journal;
    page.payload = {0x4A, 0x01, 0x00, 0x10, 'H', 'i', 'g', 'h', ' ', 'w',
                    'a',  't',  'e',  'r',  ' ', '0', '6', ':', '4', '2'};
    tides.packets.push_back(page);
    e.services.push_back(tides);

    Service sport = station(0xD216, "Coastline Sport", 15, 9,
                            {"Live: Harbour Town 1 - 0 Westmere", "Half time at Quay Park"});
    e.services.push_back(sport);
    return e;
}

// Index 7, 6D: regional stations, one with three components.
Ensemble midland() {
    Ensemble e = ensemble(7, 0x10B2, "Midland Regional", 12, reception(45, 18, 100, 22));
    e.time = at(2024, 5, 17, 8, 30, 5);

    Service voice =
        station(0xC301, "Midland Voice", 1, 1,
                {"Now playing: Ember Lane - Long Road Home", "Midland Voice: news on the hour"});
    voice.components[0].user_applications = {ua(ua_slideshow, {0x0C, 0x0D, 0x0E, 0x0F})};
    voice.packets = slideshow(3);
    e.services.push_back(voice);

    Service hits = station(0xC302, "Hill Country Hits", 10, 2, {});
    hits.label = make_label("Hill Country Hit"); // labels hold 16 bytes
    hits.components[0].label = hits.label;
    hits.texts = {"Now playing: Rosa Kell - Bright Morning", "Now playing: Fennick - Tin Roof"};
    e.services.push_back(hits);

    Service gold =
        station(0xC303, "Valley Gold", 11, 3, {"Now playing: The Marlows - Summer of Rain"});
    gold.components[0].ascty_dscty = ascty_dab;
    e.services.push_back(gold);

    Service market =
        station(0xC304, "Market Square", 4, 4,
                {"On air now: the farming hour", "Now playing: Idle Ploughs - Furrow"});
    Component market_pictures = data_component(0x304, dscty_mot, 1);
    market_pictures.user_applications = {ua(ua_slideshow, {0x0C, 0x0D})};
    market.components.push_back(market_pictures);
    Component market_pages = data_component(0x305, dscty_journal, 2);
    market_pages.user_applications = {ua(ua_journal, {0x01})};
    market.components.push_back(market_pages);
    market.packets = slideshow(4);
    e.services.push_back(market);

    e.services.push_back(
        station(0xC305, "Ridge Rock", 11, 5,
                {"Now playing: Stone Choir - Quarry", "Ridge Rock: loud since 09"}));
    e.services.push_back(station(0xC306, "Midland Kids", 8, 6, {"Story time: The Lighthouse Cat"}));
    Service weather = station(0xC307, "Weather Desk", 7, 7,
                              {"Showers clearing from the west", "Highs of 18 this afternoon"});
    weather.components[0].user_applications = {ua(ua_journal, {})};
    e.services.push_back(weather);
    return e;
}

// Index 12, 8A: a local multiplex whose clock says year 0.
Ensemble fen_valley() {
    Ensemble e = ensemble(12, 0x10C3, "Fen Valley", 1, reception(30, 11, 75, 15, 9));
    e.time = at(0, 1, 1, 12, 0, 0);
    e.time_runs = false;
    e.services.push_back(
        station(0xC401, "Fen Radio", 10, 1, {"Now playing: Reed Beds - Marsh Light"}));
    e.services.push_back(station(0xC402, "Dyke Road FM", 10, 2, {}));
    Service community = station(0xC403, "Eel Town Community", 4, 3, {});
    community.label = make_label("Eel Town Communi");
    community.components[0].label = community.label;
    community.local = true;
    community.texts = {"On air now: village news", "Bring-and-buy sale on Saturday"};
    e.services.push_back(community);
    Service country =
        station(0xC404, "Windmill Country", 25, 4, {"Now playing: Hal Brody - Dust and Wheat"});
    country.components[0].user_applications = {ua(ua_slideshow, {0x0C, 0x0D}),
                                               ua(ua_slideshow, {0x0E})};
    country.packets = slideshow(5);
    e.services.push_back(country);
    // Č 0xCB, ý 0xF5, č 0xDB.
    e.services.push_back(station(0xC405,
                                 "\xCB"
                                 "esk\xF5 Sport",
                                 15, 5,
                                 {"V\xF5sledky: Praha 2 - 1 Brno", "Dnes ve\xDB"
                                                                   "er: hokej"}));
    Service late = station(0xC406, "Night Shift", 26, 6, {"Now playing: Quiet Engines - 3 AM"});
    late.linking = true;
    e.services.push_back(late);
    return e;
}

// Index 22, 10B: the capital's multiplex. It relays Harbour FM under the
// same service id as the coast ensemble does.
Ensemble capital() {
    Ensemble e = ensemble(22, 0x10D4, "Capital Stream", 27, reception(60, 24, 100, 28));
    e.time = at(2024, 5, 17, 8, 29, 58);

    Service relay =
        station(0xD210, "Harbour FM", 10, 1,
                {"Now playing: The Quiet Tides - Northern Lights", "Harbour FM on Capital Stream"});
    e.services.push_back(relay);

    Service news =
        station(0xC501, "City News 24", 1, 2,
                {"Headlines at the top of every hour", "Traffic: the ring road is clear"});
    news.components[0].user_applications = {ua(ua_slideshow, {0x0C, 0x0D}),
                                            ua(ua_journal, {0x01, 0x02, 0x03})};
    Component news_pages = data_component(0x501, dscty_journal, 1);
    news_pages.user_applications = {ua(ua_journal, {0x01, 0x02, 0x03, 0x04})};
    news.components.push_back(news_pages);
    news.packets = slideshow(6);
    e.services.push_back(news);

    e.services.push_back(
        station(0xC502, "Skyline Dance", 10, 3,
                {"Now playing: Neon Harbour - Afterglow", "Now playing: Kaito Rell - Pulse"}));
    // EBU Latin: é is 0x82, à 0x81.
    Service opera = station(0xC503, "Op\x82ra Classique", 14, 4,
                            {"Ce soir: Carmen, acte deux \x81 l'Op\x82ra"});
    opera.ca_id = 1;
    opera.components[0].ca_flag = true;
    e.services.push_back(opera);
    // Ł 0x5E, ó 0x86, ź 0xFD; in the text ł is 0x24, Ż 0x0E and ć 0xFB.
    e.services.push_back(station(0xC504,
                                 "\x5E\x86"
                                 "d\xFD Jazz",
                                 10, 5, {"Teraz: Zesp\x86\x24 \x0E\x86\x24\xFB - Noc"}));
    Service parliament =
        station(0xC505, "Parliament Live", 2, 6, {"Live from the chamber: questions"});
    parliament.si_charset = 4;
    e.services.push_back(parliament);
    // Ö 0xD7; ö 0x97, å 0xF1.
    e.services.push_back(station(0xC506, "\xD7resund Klassik", 13, 7,
                                 {"Nu spelas: Sj\x97str\x97m - V\xF1rs\xF1ng"}));
    Service listings;
    listings.id = 0xE2D0C507;
    listings.data = true;
    listings.label = make_label("City Listings");
    Component listing_pages = data_component(0x507, dscty_journal, 0);
    listing_pages.ps = true;
    listing_pages.user_applications = {ua(ua_journal, {0x02})};
    listings.components.push_back(listing_pages);
    e.services.push_back(listings);
    return e;
}

// Index 29, 11D: a northern ensemble that sends no time at all.
Ensemble northern_belt() {
    Ensemble e = ensemble(29, 0x10E5, "Northern Belt", 5, reception(34, 12, 84, 17, 4));
    e.services.push_back(
        station(0xC601, "Pine Ridge Radio", 10, 1, {"Now playing: Frost Line - Birch"}));
    // A label in UTF-8 (SI charset 15); its texts are in EBU Latin like all
    // broadcast texts (Å 0xE1).
    Service malmo = station(0xC602, "Malm\xC3\xB6 V\xC3\xA4st FM", 11, 2,
                            {"Nu spelas: \xE1ngstr\x97m - Sommar"});
    malmo.si_charset = 15;
    malmo.components[0].charset = 15;
    e.services.push_back(malmo);
    Service gaelic = station(0xC603, "Highland Folk", 22, 3, {"Now playing: Ceol Mor - Tide"});
    gaelic.components[0].language = 0x2F;
    e.services.push_back(gaelic);
    Service pictures =
        station(0xC604, "Aurora Beats", 10, 4, {"Now playing: North Wind - Static Sky"});
    pictures.components[0].user_applications = {ua(ua_slideshow, {})};
    pictures.packets = slideshow(7);
    e.services.push_back(pictures);
    // ö 0x97, ü 0x99, ß 0x8D.
    e.services.push_back(station(0xC605, "K\x97lner Welle", 4, 5,
                                 {"Gr\x99\x8D"
                                  "e aus K\x97ln",
                                  "Jetzt: Stra\x8D"
                                  "enbahn-Gefl\x99ster"}));
    e.services.push_back(
        station(0xC606, "Northern Sport", 15, 6, {"Full time: Kirkby 2 - 2 Dunmore"}));
    return e;
}

// Index 33, 12C: a distant ensemble: a valid but weak signal whose FIC
// never decodes well enough to be acquired.
Ensemble distant() {
    Ensemble e = ensemble(33, 0x10F6, "Far Hills", 2, reception(14, 3, 18, 4, 310));
    e.reception.acquires = false;
    e.services.push_back(station(0xC701, "Far Hills FM", 10, 1, {}));
    return e;
}

// Index 40, 13F, the last: a weak but usable relay.
Ensemble upland() {
    Ensemble e = ensemble(40, 0x10F7, "Upland Relay", 8, reception(22, 7, 45, 9, 40));
    e.time = at(2024, 5, 17, 8, 30, 2);
    // DL Plus in EBU Latin: a song, the station between songs (the item
    // stops running), the display cleared, the next song (a new item).
    Service summit =
        station(0xC801, "Summit FM", 10, 1,
                {"Now playing: Cairn - Above the Cloud", "Summit FM: high ground radio", "",
                 "Now playing: Tarn - Still Water"});
    summit.text_options = {tagged(0, 0, true, {{artist, 13, 5}, {title, 21, 15}}),
                           tagged(0, 0, false, {{station_name_long, 0, 9}}), clear_display(),
                           tagged(0, 1, true, {{artist, 13, 4}, {title, 20, 11}})};
    e.services.push_back(summit);
    // UTF-8 texts, one with DL Plus whose markers count characters (the
    // en dash is three bytes).
    Service moorland =
        station(0xC802, "Moorland Radio", 11, 2,
                {"Now playing: Heather & Slate \xE2\x80\x93 Grey Skies", "Gr\xC3\xBC\xC3\x9F"
                                                                         "e vom Moor"});
    moorland.text_options = {tagged(15, 0, true, {{artist, 13, 15}, {title, 31, 10}}), plain(15)};
    e.services.push_back(moorland);
    Service pictures = station(0xC803, "Tor Pictures", 10, 3, {"Now playing: Tor - Granite"});
    pictures.components[0].user_applications = {ua(ua_slideshow, {0x0C, 0x0D, 0x0E})};
    pictures.packets = slideshow(8);
    e.services.push_back(pictures);
    Service two = station(0xC804, "Quarry Two", 10, 4, {});
    two.components.push_back(audio(5, ascty_dab));
    two.components[1].ps = false;
    e.services.push_back(two);
    Service gold =
        station(0xC805, "Upland Gold", 11, 6, {"Now playing: The Shepherds - Evening Fold"});
    gold.text_options = {tagged(0, 0, true, {{artist, 13, 13}, {title, 29, 12}})};
    e.services.push_back(gold);
    // A UCS-2 text (the apostrophe is U+2019) tagged as the programme.
    Service ridgeway =
        station(0xC806, "Ridgeway", 4, 7, {ucs2(u"Ridgeway: walkers\u2019 forecast")});
    ridgeway.text_options = {tagged(6, 0, true, {{programme_now, 10, 17}})};
    e.services.push_back(ridgeway);
    return e;
}

} // namespace

Band default_band() {
    Band band;
    band.frequencies = band_iii_frequencies();
    band.ensembles = {lowland(),       midland(), fen_valley(), capital(),
                      northern_belt(), distant(), upland()};
    return band;
}

} // namespace sim
