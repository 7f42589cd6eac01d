// Umbrella header of the swiftui layer.
#pragma once
#include <morvik/platform/swiftui/Graph.h>
#include <morvik/platform/swiftui/State.h>
#include <morvik/platform/swiftui/Types.h>
#include <morvik/platform/swiftui/UIHostingController.h>
#include <morvik/platform/swiftui/UIViewControllerRepresentable.h>
#include <morvik/platform/swiftui/View.h>
#include <morvik/platform/swiftui/Views.h>
