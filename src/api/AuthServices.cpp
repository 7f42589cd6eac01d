#include "morvik/api/AuthServices.h"

#include <memory>

namespace morvik {

AuthServices& AuthServices::shared() {
  static std::shared_ptr<AuthServices>* instance =
      new std::shared_ptr<AuthServices>(std::make_shared<AuthServices>());
  return **instance;
}

std::string AuthServices::endpoint(std::string_view path) {
  auto base = APIManager::shared().baseURL();
  return (base ? base->absoluteString() : std::string()) + std::string(path);
}

Parameters AuthServices::makeUploadParameters(const std::string& age, const std::string& documentType,
                                              const std::string& email) {
  return Parameters{{"age", age}, {"documentType", documentType}, {"email", email}};
}

void AuthServices::reverify(const std::string& email, const std::string& age, foundation::Data livePhoto,
                            Success success, Failure failure) {
  Parameters params{{"email", email}, {"age", age}};
  APIManager::shared().uploadMultipart(endpoint("/reverify"),
                                       {ImagePart{"", std::nullopt}, ImagePart{"", std::nullopt},
                                        ImagePart{"livePhoto", std::move(livePhoto)}},
                                       std::move(params), std::move(success), std::move(failure));
}

void AuthServices::uploadDocuments(const std::string& documentType,
                                   std::optional<foundation::Data> documentFront,
                                   std::optional<foundation::Data> documentBack,
                                   std::optional<foundation::Data> livePhoto, const std::string& age,
                                   const std::string& email, Success success, Failure failure) {
  APIManager::shared().uploadMultipart(
      endpoint("/upload"),
      {ImagePart{"documentFront", std::move(documentFront)},
       ImagePart{"documentBack", std::move(documentBack)}, ImagePart{"livePhoto", std::move(livePhoto)}},
      makeUploadParameters(age, documentType, email), std::move(success), std::move(failure));
}

}  // namespace morvik
