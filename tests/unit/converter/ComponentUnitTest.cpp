// The component's behaviour that needs no media library.
#include "RAzevaVUV.h"

#include <gtest/gtest.h>

TEST(ConverterComponent, PropertiesAndTheirRules) {
    ZEVuzuzAVE component;
    EXPECT_EQ(component.Version(), "2.5");
    EXPECT_EQ(component.ProgressInterval(), 500);
    component.SetProgressInterval(50);
    EXPECT_EQ(component.ProgressInterval(), 100);
    component.SetProgressInterval(100);
    EXPECT_EQ(component.ProgressInterval(), 100);
    component.SetProgressInterval(101);
    EXPECT_EQ(component.ProgressInterval(), 101);
    EXPECT_EQ(component.ThreadPriority, tpNormal);
    EXPECT_FALSE(component.Preview());
    EXPECT_FALSE(component.PreviewBitmap());
    EXPECT_EQ(component.TaskCount(), 0);
}

TEST(ConverterComponent, StartWithoutTasksFiresNothingAndBadIndexesRaise) {
    ZEVuzuzAVE component;
    int events = 0;
    component.OnTerminate = [&](int32_t, bool, bool, const std::string&) { ++events; };
    component.StartConvert(0);
    component.StartConvert(2);
    component.StopConvert(true);
    EXPECT_EQ(events, 0);
    EXPECT_THROW(component.AddInput(0, "x.wav"), EListError);
    EXPECT_THROW(component.SetOutput(-1, "y.wav"), EListError);
    EXPECT_THROW(component.Task(0), EListError);
}
