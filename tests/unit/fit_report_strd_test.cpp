// PolynomialFitReport against the certified values of the NIST StRD
// polynomial datasets: every coefficient and standard error, the residual
// standard deviation and R² (where certified non-zero) must agree to at
// least 12 significant digits (log relative error >= 12).
#include "calmgr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Certified {
    std::vector<double> coeffs, std_errors;
    double residual_sd = 0.0, r_squared = 0.0;
};

std::string path_of(const std::string& set, const char* ext) { return std::string(CALMGR_STRD_DIR) + "/" + set + ext; }

std::vector<RealPoint> read_samples(const std::string& set) {
    std::ifstream in(path_of(set, ".xy"));
    EXPECT_TRUE(in.good()) << path_of(set, ".xy");
    std::vector<RealPoint> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string x, y;
        fields >> x >> y;
        out.push_back({std::strtod(x.c_str(), nullptr), std::strtod(y.c_str(), nullptr)});
    }
    return out;
}

Certified read_certified(const std::string& set) {
    std::ifstream in(path_of(set, ".cert"));
    EXPECT_TRUE(in.good()) << path_of(set, ".cert");
    Certified c;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, a, b;
        fields >> name >> a >> b;
        if (name == "residual_sd") {
            c.residual_sd = std::strtod(a.c_str(), nullptr);
        } else if (name == "r_squared") {
            c.r_squared = std::strtod(a.c_str(), nullptr);
        } else {
            c.coeffs.push_back(std::strtod(a.c_str(), nullptr));
            c.std_errors.push_back(std::strtod(b.c_str(), nullptr));
        }
    }
    return c;
}

// Log relative error: the number of agreeing significant digits, at most
// 15 (the certified values' own precision); against 0 the absolute error.
double lre(double got, double certified) {
    const double err = certified == 0.0 ? std::fabs(got) : std::fabs(got - certified) / std::fabs(certified);
    return err == 0.0 ? 15.0 : std::fmin(15.0, -std::log10(err));
}

class StrdDataset : public testing::TestWithParam<const char*> {};

TEST_P(StrdDataset, AgreesWithTheCertifiedValuesToTwelveDigits) {
    const std::string set = GetParam();
    const std::vector<RealPoint> samples = read_samples(set);
    const Certified cert = read_certified(set);
    ASSERT_FALSE(samples.empty());
    ASSERT_GE(cert.coeffs.size(), 2u);
    const auto degree = static_cast<int16_t>(cert.coeffs.size() - 1);

    CalFitReport r;
    ASSERT_EQ(PolynomialFitReport(samples.data(), static_cast<int32_t>(samples.size()), degree, &r), CAL_OK);
    EXPECT_EQ(r.degree, degree);
    EXPECT_EQ(r.num_samples, static_cast<int32_t>(samples.size()));
    double worst = 15.0;
    for (int k = 0; k <= degree; ++k) {
        EXPECT_GE(lre(r.coeffs[k], cert.coeffs[k]), 12.0) << "B" << k << " = " << r.coeffs[k];
        // Wampler1 and 2 are exact: their standard errors are certified 0.
        if (cert.std_errors[k] != 0.0) {
            EXPECT_GE(lre(r.std_errors[k], cert.std_errors[k]), 12.0) << "sd(B" << k << ") = " << r.std_errors[k];
        } else {
            EXPECT_LE(std::fabs(r.std_errors[k]), 1e-12 * std::fmax(1.0, std::fabs(cert.coeffs[k])));
        }
        EXPECT_NEAR(r.std_errors[k], std::sqrt(r.covariance[k][k]), 1e-15 * r.std_errors[k]);
        worst = std::fmin(worst, lre(r.coeffs[k], cert.coeffs[k]));
        if (cert.std_errors[k] != 0.0) worst = std::fmin(worst, lre(r.std_errors[k], cert.std_errors[k]));
    }
    for (int k = degree + 1; k < CAL_FIT_MAX_COEFFS; ++k) {
        EXPECT_EQ(r.coeffs[k], 0.0);
        EXPECT_EQ(r.std_errors[k], 0.0);
    }
    if (cert.residual_sd != 0.0) {
        EXPECT_GE(lre(r.residual_sd, cert.residual_sd), 12.0) << r.residual_sd;
    }
    EXPECT_GE(lre(r.r_squared, cert.r_squared), 12.0) << r.r_squared;
    EXPECT_GT(r.condition, 1.0);
    const double n = static_cast<double>(samples.size());
    EXPECT_NEAR(r.ssr, r.residual_sd * r.residual_sd * (n - degree - 1), 1e-12 * std::fmax(r.ssr, 1e-300));
    std::printf("%s: min LRE %.1f\n", set.c_str(), worst);
}

INSTANTIATE_TEST_SUITE_P(Nist, StrdDataset,
                         testing::Values("Norris", "Pontius", "Wampler1", "Wampler2", "Wampler3", "Wampler4",
                                         "Wampler5", "Filip"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
