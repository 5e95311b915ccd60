// Devices of a umockdev testbed: adding one with its sysfs attributes and udev properties, and
// reading back an attribute the program under test may have written (such as `remove`).
#pragma once

#include <gtest/gtest.h>
#include <umockdev.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

// Attributes and properties as name, value, name, value, ...; the device's sysfs path.
inline std::string AddTestbedDevice(UMockdevTestbed* bed, const char* subsystem, const char* name, const char* parent,
                                    std::initializer_list<const char*> attributes,
                                    std::initializer_list<const char*> properties) {
    std::vector<const gchar*> attributeList(attributes), propertyList(properties);
    attributeList.push_back(nullptr);
    propertyList.push_back(nullptr);
    gchar* path = umockdev_testbed_add_devicev(bed, subsystem, name, parent, const_cast<gchar**>(attributeList.data()),
                                               const_cast<gchar**>(propertyList.data()));
    std::string syspath = path ? path : "";
    g_free(path);
    EXPECT_FALSE(syspath.empty()) << name;
    return syspath;
}

// What a sysfs attribute file of the testbed holds now.
inline std::string TestbedAttribute(UMockdevTestbed* bed, const std::string& syspath, const char* name) {
    gchar* root = umockdev_testbed_get_root_dir(bed);
    std::ifstream in(std::string(root) + syspath + "/" + name);
    g_free(root);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
