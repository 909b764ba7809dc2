// The C++ layer's polynomial fits against the exported entry points: the
// same values bit for bit, and refusals as calmgr::Error.
#include "calmgr.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using calmgr::Error;

TEST(PolynomialFit, ValuesMatchTheCEntryPoints) {
    const std::vector<RealPoint> samples{{0, 1.1}, {1, 2.9}, {2, 5.2}, {3, 6.8}, {4, 9.3}};
    const std::vector<double> xs{-1.0, 0.5, 10.0};
    const auto at = calmgr::polynomial_fit(samples, xs, 2);
    std::vector<RealPoint> ref{{-1.0, 0}, {0.5, 0}, {10.0, 0}};
    ASSERT_EQ(PolynomialFit(samples.data(), 5, ref.data(), 3, 2), CAL_OK);
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(std::memcmp(&at[i], &ref[i].y, 8), 0);

    const auto grid = calmgr::polynomial_fit_range(samples, 0.0, 255.0, 256, 3);
    std::vector<double> ref_grid(256);
    ASSERT_EQ(PolynomialFitRange(samples.data(), 5, ref_grid.data(), 0.0, 255.0, 256, 3), CAL_OK);
    EXPECT_EQ(std::memcmp(grid.data(), ref_grid.data(), 256 * sizeof(double)), 0);

    for (int degree : {0, 8, 65537}) {
        try {
            (void)calmgr::polynomial_fit(samples, xs, degree);
            FAIL() << "degree " << degree << " accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), FIT_ERR_ARGS);
            EXPECT_STREQ(e.status_name(), "FIT_ERR_ARGS");
        }
    }
    EXPECT_THROW((void)calmgr::polynomial_fit_range(samples, 0.0, 1.0, 1, 1), Error);
    EXPECT_TRUE(calmgr::polynomial_fit(samples, std::vector<double>{}, 1).empty());
}

}  // namespace
