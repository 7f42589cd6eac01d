// The uikit layer: a headless stand-in for the platform's UIKit.
#pragma once

#include <morvik/platform/uikit/NSLayoutConstraint.h>
#include <morvik/platform/uikit/UIAlertController.h>
#include <morvik/platform/uikit/UIApplication.h>
#include <morvik/platform/uikit/UIBarButtonItem.h>
#include <morvik/platform/uikit/UIButton.h>
#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIControl.h>
#include <morvik/platform/uikit/UIDevice.h>
#include <morvik/platform/uikit/UIFont.h>
#include <morvik/platform/uikit/UIGraphics.h>
#include <morvik/platform/uikit/UIImage.h>
#include <morvik/platform/uikit/UIImageView.h>
#include <morvik/platform/uikit/UIKitTypes.h>
#include <morvik/platform/uikit/UILabel.h>
#include <morvik/platform/uikit/UINavigationController.h>
#include <morvik/platform/uikit/UIScreen.h>
#include <morvik/platform/uikit/UIScrollView.h>
#include <morvik/platform/uikit/UIStackView.h>
#include <morvik/platform/uikit/UITabBarController.h>
#include <morvik/platform/uikit/UITextView.h>
#include <morvik/platform/uikit/UITraitCollection.h>
#include <morvik/platform/uikit/UIView.h>
#include <morvik/platform/uikit/UIViewController.h>
#include <morvik/platform/uikit/UIWindow.h>
