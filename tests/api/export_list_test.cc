// The export master list: binding order, unique names, and every name defined in the engine.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "api/ov_api.h"

namespace {

struct Row {
  int position;
  const char* name;
  void* address;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
#define OV_EXPORT(position, name, return_type, params) {position, #name, reinterpret_cast<void*>(&name)},
#include "api/export_list.h"
#undef OV_EXPORT
  };
  return rows;
}

TEST(ExportList, PositionsRunOneToCountInOrderWithUniqueNames) {
  const auto& rows = Rows();
  ASSERT_EQ(rows.size(), static_cast<size_t>(kOvExportCount));
  std::set<std::string> names;
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].position, static_cast<int>(i + 1)) << rows[i].name;
    EXPECT_TRUE(names.insert(rows[i].name).second) << "duplicate " << rows[i].name;
    const std::string name = rows[i].name;
    EXPECT_TRUE(name.rfind("ov", 0) == 0) << name;
  }
}

TEST(ExportList, FamilyBoundariesSitAtTheirPositions) {
  const struct {
    int position;
    const char* name;
  } anchors[] = {
      {1, "ovGetWindow"},        {5, "ovRandom"},          {6, "ovMessage"},          {8, "ovIsExit"},
      {19, "ovCheckSystemName"}, {22, "ovSetDataFile"},    {23, "ovCreateImage"},     {71, "ovDestroyWipe"},
      {72, "ovSetSpriteLevel"},  {87, "ovtsRender"},       {106, "ovtsCreateSprite"}, {136, "ovOutputText"},
      {150, "ovCreateChar"},     {159, "ovGetInputCount"}, {173, "ovWaitNetEvent"},   {182, "ovSetDelayTime"},
      {194, "ovAddMidiList"},    {203, "ovLoadSound"},     {221, "ovCreateStream"},   {227, "ovLoadMovie"},
      {234, "ovSplitPath"},      {243, "ovIsFileExist"},   {247, "ovCreateFile"},     {253, "ovReadFileLine"},
      {264, "ovConnectNet"},     {279, "ovSendNetString"},
  };
  for (const auto& anchor : anchors) {
    EXPECT_STREQ(Rows()[anchor.position - 1].name, anchor.name);
  }
}

TEST(ExportList, EveryExportIsDefinedInTheEngine) {
  for (const auto& row : Rows()) EXPECT_NE(row.address, nullptr) << row.name;
}

}  // namespace
