// Attaching calibrations to images, seen through the public interface with
// a host image library of the test's own: it records every call, refuses
// chosen images in its queries, puts each image's instance at image + 1000
// and returns chosen statuses from prop_set and prop_remove.
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Host {
    std::map<std::pair<CalImageHandle, int32_t>, std::vector<unsigned char>> props;
    std::set<CalImageHandle> refused;
    bool query_writes = true;
    int32_t set_status = 0;
    int32_t remove_status = 0;
    std::vector<std::string> calls;
};
Host g_host;

std::string call(const char* what, CalImageHandle h, long extra = 0) {
    return std::string(what) + " " + std::to_string(h) + " " + std::to_string(extra);
}

void* host_alloc(uint32_t, size_t size) { return std::malloc(size != 0 ? size : 1); }
void host_free(void* block) { std::free(block); }

CalImageHandle host_instance(CalImageHandle image) {
    g_host.calls.push_back(call("instance", image));
    return image + 1000;
}

int32_t answer_query(const char* what, CalImageHandle image, int32_t item, int32_t* answer) {
    g_host.calls.push_back(call(what, image, item));
    if (g_host.query_writes) *answer = g_host.refused.count(image) != 0 ? 0 : 1;
    return 99;  // the status of a query means nothing to the caller
}

int32_t host_query(CalImageHandle image, int32_t item, int32_t, int32_t, int32_t* answer) {
    return answer_query("query", image, item, answer);
}

int32_t host_instance_query(CalImageHandle image, int32_t item, int32_t, int32_t, int32_t* answer) {
    return answer_query("instance_query", image, item, answer);
}

int32_t host_prop_set(CalImageHandle target, const void* data, uint32_t size, int32_t tag) {
    g_host.calls.push_back(call("set", target, tag));
    const auto* bytes = static_cast<const unsigned char*>(data);
    g_host.props[{target, tag}].assign(bytes, bytes + size);
    return g_host.set_status;
}

int32_t host_prop_get(CalImageHandle target, int32_t tag, void* result, uint32_t size) {
    g_host.calls.push_back(call("get", target, tag));
    auto it = g_host.props.find({target, tag});
    if (it == g_host.props.end()) return -5;
    std::memcpy(result, it->second.data(), std::min<size_t>(size, it->second.size()));
    return 0;
}

int32_t host_prop_remove(CalImageHandle target, int32_t tag) {
    g_host.calls.push_back(call("remove", target, tag));
    g_host.props.erase({target, tag});
    return g_host.remove_status;
}

class Association : public ::testing::Test {
protected:
    void SetUp() override {
        g_host = Host{};
        const CalImageServices table = {host_alloc,    host_free,     host_instance,   host_query,
                                        host_instance_query, host_prop_set, host_prop_get, host_prop_remove};
        ASSERT_EQ(CalSetImageServices(&table), CAL_OK);
    }
    void TearDown() override { EXPECT_EQ(CalSetImageServices(nullptr), CAL_OK); }
};

// Handles with bits above the low 32 set; no setter dereferences them.
IntensityCal* fake_ical(uintptr_t v) { return reinterpret_cast<IntensityCal*>(v); }
SpatialCal* fake_scal(uintptr_t v) { return reinterpret_cast<SpatialCal*>(v); }
const uintptr_t kWide = sizeof(void*) > 4 ? static_cast<uintptr_t>(0xFEDCBA9876543210ull) : 0xFEDCBA98u;

TEST_F(Association, RefusedImageKeepsEarlierIntensityAttachmentButTakesSpatial) {
    IntensityCal* first = fake_ical(kWide);
    IntensityCal* second = fake_ical(kWide + 16);
    ASSERT_EQ(ICalSetHandle(5, first), 0);
    ASSERT_EQ(ICalSetHandleInst(5, first), 0);
    g_host.refused.insert(5);
    EXPECT_EQ(ICalSetHandle(5, second), CAL_ERR_TARGET);
    EXPECT_EQ(ICalSetHandleInst(5, second), CAL_ERR_TARGET);
    EXPECT_EQ(ICalGetHandle(5), first);
    EXPECT_EQ(ICalGetHandleInst(5), first);

    g_host.calls.clear();
    SpatialCal* spatial = fake_scal(kWide + 32);
    EXPECT_EQ(SCalSetHandle(5, spatial), 0);
    EXPECT_EQ(SCalSetHandleInst(5, spatial), 0);
    EXPECT_EQ(SCalGetHandle(5), spatial);
    EXPECT_EQ(SCalGetHandleInst(5), spatial);
    for (const std::string& c : g_host.calls) EXPECT_EQ(c.find("query"), std::string::npos) << c;

    // Detaching asks nothing, so it works on a refused image too.
    EXPECT_EQ(ICalSetHandle(5, nullptr), 0);
    EXPECT_EQ(ICalGetHandle(5), nullptr);
    EXPECT_EQ(ICalGetHandleInst(5), first);
}

TEST_F(Association, QueryComesFirstOnTheImageAndTheInstanceAfterIt) {
    IntensityCal* cal = fake_ical(kWide);
    ASSERT_EQ(ICalSetHandle(7, cal), 0);
    EXPECT_EQ(g_host.calls, (std::vector<std::string>{call("query", 7, 1), call("set", 7, PROP_ICAL)}));
    g_host.calls.clear();
    ASSERT_EQ(ICalSetHandleInst(7, cal), 0);
    EXPECT_EQ(g_host.calls, (std::vector<std::string>{call("instance_query", 7, 1), call("instance", 7),
                                                      call("set", 1007, PROP_ICAL_INST)}));
    g_host.calls.clear();
    ASSERT_EQ(SCalSetHandleInst(7, fake_scal(kWide)), 0);
    ASSERT_EQ(SCalSetHandleInst(7, nullptr), 0);
    EXPECT_EQ(g_host.calls, (std::vector<std::string>{call("instance", 7), call("set", 1007, PROP_SCAL_INST),
                                                      call("instance", 7), call("remove", 1007, PROP_SCAL_INST)}));
}

TEST_F(Association, UnansweredQueryAcceptsEveryImageButZero) {
    g_host.query_writes = false;
    IntensityCal* cal = fake_ical(kWide);
    EXPECT_EQ(ICalSetHandle(0, cal), CAL_ERR_TARGET);
    EXPECT_EQ(ICalSetHandleInst(0, cal), CAL_ERR_TARGET);
    EXPECT_EQ(ICalSetHandle(0x80000000u, cal), 0);
    EXPECT_EQ(ICalSetHandleInst(3, cal), 0);
    EXPECT_EQ(ICalGetHandle(0x80000000u), cal);
    EXPECT_EQ(ICalGetHandleInst(3), cal);
}

TEST_F(Association, ImageLibraryStatusesComeBackUnchanged) {
    g_host.set_status = 17;
    g_host.remove_status = -3;
    IntensityCal* ical = fake_ical(kWide);
    SpatialCal* scal = fake_scal(kWide);
    EXPECT_EQ(ICalSetHandle(9, ical), 17);
    EXPECT_EQ(ICalSetHandleInst(9, ical), 17);
    EXPECT_EQ(SCalSetHandle(9, scal), 17);
    EXPECT_EQ(SCalSetHandleInst(9, scal), 17);
    EXPECT_EQ(ICalSetHandle(9, nullptr), -3);
    EXPECT_EQ(ICalSetHandleInst(9, nullptr), -3);
    EXPECT_EQ(SCalSetHandle(9, nullptr), -3);
    EXPECT_EQ(SCalSetHandleInst(9, nullptr), -3);
    EXPECT_EQ(ICalSetHandle(10, nullptr), -3);  // nothing attached: still the library's word
}

TEST_F(Association, EachTagAndTargetCarriesItsOwnHandle) {
    IntensityCal* on_image = fake_ical(kWide);
    IntensityCal* on_instance = fake_ical(kWide + 8);
    SpatialCal* s_image = fake_scal(kWide + 24);
    SpatialCal* s_instance = fake_scal(kWide + 40);
    ASSERT_EQ(ICalSetHandle(4, on_image), 0);
    EXPECT_EQ(ICalGetHandleInst(4), nullptr);
    EXPECT_EQ(SCalGetHandle(4), nullptr);
    ASSERT_EQ(ICalSetHandleInst(4, on_instance), 0);
    ASSERT_EQ(SCalSetHandle(4, s_image), 0);
    ASSERT_EQ(SCalSetHandleInst(4, s_instance), 0);
    EXPECT_EQ(ICalGetHandle(4), on_image);
    EXPECT_EQ(ICalGetHandleInst(4), on_instance);
    EXPECT_EQ(SCalGetHandle(4), s_image);
    EXPECT_EQ(SCalGetHandleInst(4), s_instance);
    // The instance is a target of its own: image 1004 holds the instance's
    // properties under the instance tags only.
    EXPECT_EQ(ICalGetHandle(1004), nullptr);
    EXPECT_EQ(g_host.props.size(), 4u);
}

TEST_F(Association, WholeHandleIsStoredAndReadBack) {
    IntensityCal* ical = fake_ical(kWide);
    SpatialCal* scal = fake_scal(kWide + 8);
    ASSERT_EQ(ICalSetHandle(2, ical), 0);
    ASSERT_EQ(SCalSetHandleInst(2, scal), 0);
    const std::vector<unsigned char>& stored = g_host.props[{2, PROP_ICAL}];
    ASSERT_EQ(stored.size(), sizeof(void*));
    EXPECT_EQ(std::memcmp(stored.data(), &ical, sizeof ical), 0);
    EXPECT_EQ((g_host.props[{1002, PROP_SCAL_INST}].size()), sizeof(void*));
    EXPECT_EQ(ICalGetHandle(2), ical);
    EXPECT_EQ(SCalGetHandleInst(2), scal);
}

// The built-in image library serves the same round trips and keeps a
// destroyed calibration's handle until the application clears it.
TEST(AssociationBuiltin, HandlesSurviveDestroyAndRoundTripInFull) {
    IntensityCal* ical = ICalCreate();
    SpatialCal* scal = SCalCreate();
    ASSERT_NE(ical, nullptr);
    ASSERT_NE(scal, nullptr);
    ASSERT_EQ(ICalSetHandle(21, ical), 0);
    ASSERT_EQ(SCalSetHandle(21, scal), 0);
    EXPECT_EQ(ICalSetHandle(0, ical), CAL_ERR_TARGET);  // the built-in query refuses 0
    EXPECT_EQ(SCalSetHandle(0, scal), 0);
    EXPECT_EQ(SCalGetHandle(0), scal);
    ASSERT_EQ(ICalDestroy(ical), CAL_OK);
    ASSERT_EQ(SCalDestroy(scal), CAL_OK);
    EXPECT_EQ(ICalGetHandle(21), ical);
    EXPECT_EQ(SCalGetHandle(21), scal);

    IntensityCal* wide = fake_ical(kWide);
    ASSERT_EQ(ICalSetHandleInst(21, wide), 0);
    EXPECT_EQ(ICalGetHandleInst(21), wide);
    for (CalImageHandle image : {0u, 21u}) {
        EXPECT_EQ(ICalSetHandle(image, nullptr), 0);
        EXPECT_EQ(ICalSetHandleInst(image, nullptr), 0);
        EXPECT_EQ(SCalSetHandle(image, nullptr), 0);
    }
    EXPECT_EQ(ICalGetHandle(21), nullptr);
    EXPECT_EQ(ICalGetHandleInst(21), nullptr);
    EXPECT_EQ(SCalGetHandle(0), nullptr);
    EXPECT_EQ(CalSetImageServices(nullptr), CAL_OK);
}

}  // namespace
