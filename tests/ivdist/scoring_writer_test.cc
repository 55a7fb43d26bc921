// The random SPLDA model of the test writer must be a real PLDA model: its
// diagonalised score equals the two-covariance log-likelihood ratio computed
// from Gaussian densities.
#include "tools/modelio/scoring-writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

// GCC 12 reports false uninitialised-use warnings inside Eigen's AVX-512 code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <eigen3/Eigen/Dense>

#include "ivdist/splda.h"
#include "tests/ivdist/section-stream.h"
#include "tests/support/test-dir.h"

namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

double LogGauss(const VectorXd& x, const VectorXd& mean, const MatrixXd& cov) {
  const Eigen::LLT<MatrixXd> llt(cov);
  const VectorXd z = llt.matrixL().solve(x - mean);
  const double logDet = 2.0 * llt.matrixL().toDenseMatrix().diagonal().array().log().sum();
  return -0.5 * (z.squaredNorm() + logDet + x.size() * std::log(2.0 * M_PI));
}

TEST(ScoringWriterTest, RandomSpldaIsATwoCovarianceLlr) {
  const int d = 5;
  const modelio::SpldaModel m = modelio::RandomSplda(d, 77);
  // A = V (columns: eigenvectors), a = phi / (2 (1 + 2 phi)) => phi.
  MatrixXd v(d, d);
  for (int j = 0; j < d; ++j)
    for (int i = 0; i < d; ++i) v(j, i) = m.cross[j * d + i];
  EXPECT_LT((v.transpose() * v - MatrixXd::Identity(d, d)).norm(), 1e-12);
  EXPECT_EQ(m.self, m.cross);
  VectorXd phi(d);
  for (int i = 0; i < d; ++i) {
    ASSERT_GE(m.crossEigen[i], 0.0);
    ASSERT_LE(m.selfEigen[i], 0.0);
    phi(i) = 2 * m.crossEigen[i] / (1 - 4 * m.crossEigen[i]);
  }
  const MatrixXd between = v * phi.asDiagonal() * v.transpose();
  const MatrixXd total = MatrixXd::Identity(d, d) + between;
  // c = -(P + Q) mu  =>  mu.
  VectorXd pq(d), c(d);
  for (int i = 0; i < d; ++i) {
    pq(i) = 2 * (m.crossEigen[i] + m.selfEigen[i]);
    c(i) = m.linear[i];
  }
  const VectorXd mu = -(v * pq.asDiagonal() * v.transpose()).inverse() * c;
  MatrixXd joint(2 * d, 2 * d);
  joint << total, between, between, total;
  VectorXd jointMean(2 * d);
  jointMean << mu, mu;

  jor_test::TestDir dir;
  ivdist_test::SectionStream stream(dir, modelio::SpldaSection(m, 8));
  ivdist::splda::Splda<double> splda;
  ASSERT_EQ(splda.Load(stream.get()), 0);
  std::mt19937 rng(1);
  std::normal_distribution<double> normal;
  for (int trial = 0; trial < 10; ++trial) {
    std::vector<double> x(d), y(d);
    VectorXd ex(d), ey(d), xy(2 * d);
    for (int i = 0; i < d; ++i) {
      ex(i) = x[i] = normal(rng);
      ey(i) = y[i] = normal(rng);
    }
    xy << ex, ey;
    const double llr =
        LogGauss(xy, jointMean, joint) - LogGauss(ex, mu, total) - LogGauss(ey, mu, total);
    double score = 0;
    ASSERT_EQ(splda.Score(x, y, &score), 0);
    // The double model rounds a' through float.
    EXPECT_NEAR(score, llr, 1e-5 * (1 + std::fabs(llr))) << trial;
  }
}

TEST(ScoringWriterTest, SectionLayouts) {
  const std::string mv = modelio::MeanVarianceSection({{1, 2}, {3, 4}});
  EXPECT_EQ(mv.size(), 32u + 4 + 16);
  const modelio::WhiteningModel wh = modelio::RandomWhitening(3, 1);
  EXPECT_EQ(modelio::WhiteningSection(wh).size(), 32u + 4 + 8 * 9 + 8 * 3);
  const modelio::SpldaModel sp = modelio::RandomSplda(3, 1);
  EXPECT_EQ(modelio::SpldaSection(sp, 4).size(), 32u + 8 + 4 * (9 + 3 + 9 + 3 + 3 + 1));
  EXPECT_EQ(modelio::SpldaSection(sp, 8).size(), 32u + 8 + 8 * (9 + 3 + 9 + 3 + 3 + 1));
  float second;
  std::memcpy(&second, mv.data() + 40, 4);
  EXPECT_EQ(second, 2.0f);
}

}  // namespace
